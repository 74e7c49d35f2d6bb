#include "frame/update_num_set.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "document/user_settings.h"
#include "frame/dialog_seam.h"
#include "frame/update_schedule.h"
#include "update/update_engine.h"

namespace orvane {

CUpdateNumSet::CUpdateNumSet(int current, int connections, QWidget* parent)
    : QDialog(parent),
      edit_(new QLineEdit(QString::number(current), this)),
      connections_(new QSpinBox(this)),
      total_(new QLabel(this)),
      every_(new QCheckBox(tr("定时更新所有站点，每隔（小时）："), this)),
      everyHours_(new QSpinBox(this)),
      atStart_(new QCheckBox(tr("启动时更新所有站点，如果上次更新早于（小时）："), this)),
      atStartHours_(new QSpinBox(this)),
      notify_(new QCheckBox(tr("更新有变化或失败时显示桌面通知"), this)),
      notifyEveryRun_(new QCheckBox(tr("没有变化也通知"), this)),
      journalUpdates_(new QSpinBox(this)),
      journalMegabytes_(new QSpinBox(this)) {
  setObjectName(QStringLiteral("updateNumSet"));
  // It holds more than the threads: connections, the schedule, the
  // notifications and the change journal.
  setWindowTitle(tr("更新设置"));
  edit_->setObjectName(QStringLiteral("threadsEdit"));
  connections_->setObjectName(QStringLiteral("connectionsEdit"));
  connections_->setRange(1, CUpdateEngine::kMaxConnectionsPerSite);
  connections_->setValue(connections);
  total_->setObjectName(QStringLiteral("connectionsTotal"));
  auto* threadsLabel = new QLabel(tr("设置更新线程数："), this);
  threadsLabel->setBuddy(edit_);
  auto* connectionsLabel = new QLabel(tr("每个站点的连接数："), this);
  connectionsLabel->setBuddy(connections_);
  auto* row = new QGridLayout;
  row->addWidget(threadsLabel, 0, 0);
  row->addWidget(edit_, 0, 1);
  row->addWidget(connectionsLabel, 1, 0);
  row->addWidget(connections_, 1, 1);
  row->addWidget(total_, 2, 0, 1, 2);
  connect(edit_, &QLineEdit::textChanged, this, &CUpdateNumSet::ShowTotal);
  connect(connections_, &QSpinBox::valueChanged, this, &CUpdateNumSet::ShowTotal);
  ShowTotal();

  // The hours keep their last value while switched off, so switching on
  // again brings back what the user had.
  auto* schedule = new QGroupBox(tr("自动更新"), this);
  schedule->setObjectName(QStringLiteral("scheduleGroup"));
  every_->setObjectName(QStringLiteral("everyCheck"));
  everyHours_->setObjectName(QStringLiteral("everyHoursEdit"));
  atStart_->setObjectName(QStringLiteral("atStartCheck"));
  atStartHours_->setObjectName(QStringLiteral("atStartHoursEdit"));
  notify_->setObjectName(QStringLiteral("notifyCheck"));
  notifyEveryRun_->setObjectName(QStringLiteral("notifyEveryRunCheck"));
  connect(notify_, &QCheckBox::toggled, notifyEveryRun_, &QWidget::setEnabled);
  for (QSpinBox* hours : {everyHours_, atStartHours_}) {
    hours->setRange(1, CUpdateSchedule::kMaxHours);
    hours->setValue(24);
  }
  connect(every_, &QCheckBox::toggled, everyHours_, &QWidget::setEnabled);
  connect(atStart_, &QCheckBox::toggled, atStartHours_, &QWidget::setEnabled);
  auto* scheduleRows = new QGridLayout(schedule);
  scheduleRows->addWidget(every_, 0, 0);
  scheduleRows->addWidget(everyHours_, 0, 1);
  scheduleRows->addWidget(atStart_, 1, 0);
  scheduleRows->addWidget(atStartHours_, 1, 1);
  scheduleRows->addWidget(notify_, 2, 0, 1, 2);
  scheduleRows->addWidget(notifyEveryRun_, 3, 0, 1, 2);
  SetSchedule(0, 0, true);

  auto* journal = new QGroupBox(tr("变化记录"), this);
  journal->setObjectName(QStringLiteral("journalGroup"));
  journalUpdates_->setObjectName(QStringLiteral("journalUpdatesEdit"));
  journalUpdates_->setRange(static_cast<int>(UserSettings::kMinJournalUpdates),
                            static_cast<int>(UserSettings::kMaxJournalUpdates));
  journalMegabytes_->setObjectName(QStringLiteral("journalMegabytesEdit"));
  journalMegabytes_->setRange(static_cast<int>(UserSettings::kMinJournalMegabytes),
                              static_cast<int>(UserSettings::kMaxJournalMegabytes));
  auto* updatesLabel = new QLabel(tr("每个站点保留最近的更新次数："), this);
  updatesLabel->setBuddy(journalUpdates_);
  auto* megabytesLabel = new QLabel(tr("每个站点最多占用（MB）："), this);
  megabytesLabel->setBuddy(journalMegabytes_);
  auto* journalRows = new QGridLayout(journal);
  journalRows->addWidget(updatesLabel, 0, 0);
  journalRows->addWidget(journalUpdates_, 0, 1);
  journalRows->addWidget(megabytesLabel, 1, 0);
  journalRows->addWidget(journalMegabytes_, 1, 1);
  const UserSettings defaults;
  SetJournalLimits(static_cast<int>(defaults.journalUpdates),
                   static_cast<int>(defaults.journalMegabytes));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
  buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CUpdateNumSet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CUpdateNumSet::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(schedule);
  layout->addWidget(journal);
  layout->addWidget(buttons);
}

int CUpdateNumSet::Value() const { return edit_->text().trimmed().toInt(); }

int CUpdateNumSet::Connections() const { return connections_->value(); }

void CUpdateNumSet::SetSchedule(int everyHours, int atStartHours, bool notify) {
  every_->setChecked(everyHours > 0);
  everyHours_->setEnabled(everyHours > 0);
  if (everyHours > 0) everyHours_->setValue(everyHours);
  atStart_->setChecked(atStartHours > 0);
  atStartHours_->setEnabled(atStartHours > 0);
  if (atStartHours > 0) atStartHours_->setValue(atStartHours);
  notify_->setChecked(notify);
}

int CUpdateNumSet::EveryHours() const { return every_->isChecked() ? everyHours_->value() : 0; }

int CUpdateNumSet::AtStartHours() const {
  return atStart_->isChecked() ? atStartHours_->value() : 0;
}

bool CUpdateNumSet::Notify() const { return notify_->isChecked(); }

void CUpdateNumSet::SetNotifyEveryRun(bool everyRun) { notifyEveryRun_->setChecked(everyRun); }

bool CUpdateNumSet::NotifyEveryRun() const { return notifyEveryRun_->isChecked(); }

void CUpdateNumSet::SetJournalLimits(int updates, int megabytes) {
  journalUpdates_->setValue(updates);
  journalMegabytes_->setValue(megabytes);
}

int CUpdateNumSet::JournalUpdates() const { return journalUpdates_->value(); }

int CUpdateNumSet::JournalMegabytes() const { return journalMegabytes_->value(); }

void CUpdateNumSet::ShowTotal() {
  bool isNumber = false;
  const int threads = edit_->text().trimmed().toInt(&isNumber);
  if (!isNumber || threads < kMin || threads > kMax) {
    total_->clear();
    return;
  }
  total_->setText(tr("最多同时打开 %1 个连接").arg(threads * connections_->value()));
}

void CUpdateNumSet::accept() {
  bool isNumber = false;
  const int value = edit_->text().trimmed().toInt(&isNumber);
  if (!isNumber) {
    CDialogSeam::Warn(this, tr("请输入一个整数。"));
    return;
  }
  if (value < kMin || value > kMax) {
    CDialogSeam::Warn(this, tr("请输入 %1 到 %2 之间的整数。").arg(kMin).arg(kMax));
    return;
  }
  QDialog::accept();
}

}  // namespace orvane
