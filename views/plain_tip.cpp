#include "views/plain_tip.h"

namespace orvane {

QString PlainTip(const QString& text) {
  if (text.isEmpty()) return {};
  // pre-wrap keeps the line ends and runs of spaces yet lets a long
  // server message wrap.
  return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
         QStringLiteral("</p>");
}

}  // namespace orvane
