// The two panes of the main window.
#pragma once

#include "frame/view_placeholders.h"
