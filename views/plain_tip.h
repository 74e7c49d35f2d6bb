// Text that reaches a tool tip or a notification body shown as it is.
//
// Qt shows a tool tip whose text looks like HTML as rich text, and the
// desktop's notification service may read a body as markup; a name such
// as "<h1>x" or "<font color=red>x" would then become a heading or red
// text. Every tip built from names, nicknames or a server's words goes
// through PlainTip, which makes the tip rich text on purpose, with the
// text escaped inside it, so Qt never has to guess.
#pragma once

#include <QString>

namespace orvane {

// `text` as a rich-text tip that shows exactly `text`, line ends kept;
// empty for an empty text (no tip).
QString PlainTip(const QString& text);

}  // namespace orvane
