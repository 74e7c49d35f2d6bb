#include "frame/marks_saver.h"

#include <QStringList>
#include <QTimer>

#include "document/orvane_doc.h"

namespace orvane {

CMarksSaver::CMarksSaver(COrvaneDoc& doc, std::function<void(const QString&)> report,
                         QObject* parent)
    : QObject(parent), doc_(doc), report_(std::move(report)), timer_(new QTimer(this)) {
  timer_->setInterval(kPeriod);
  connect(timer_, &QTimer::timeout, this, &CMarksSaver::SaveNow);
  timer_->start();
}

bool CMarksSaver::SaveNow() {
  const std::vector<std::string> failures = doc_.SaveDirtyMarks();
  if (failures.empty()) {
    reported_.clear();
    return true;
  }
  QStringList lines;
  for (const std::string& failure : failures) lines << QString::fromStdString(failure);
  const QString text = lines.join(QLatin1Char('\n'));
  if (text != reported_) {
    reported_ = text;
    if (report_) report_(text);
  }
  return false;
}

}  // namespace orvane
