// The two panes of the main window.
#pragma once

#include "views/dir_view.h"
#include "views/orvane_view.h"
