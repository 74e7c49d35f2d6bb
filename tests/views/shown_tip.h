// What a person reads in a tool tip: rich text as Qt renders it, plain
// text as it is.
#pragma once

#include <QString>
#include <QTextDocument>
#include <QVariant>

namespace orvane::test {

inline QString ShownTip(const QVariant& tip) {
  const QString text = tip.toString();
  if (!Qt::mightBeRichText(text)) return text;
  QTextDocument document;
  document.setHtml(text);
  return document.toPlainText();
}

}  // namespace orvane::test
