// "更新设置" (update settings): how many sites are updated at once (1 to 500) and how many
// connections each site's crawl may use (1 to 16). The program opens at most
// the product of the two; the dialog says so as the values change. Below
// them, the updates that run by themselves (every N hours, at start when
// the last update is older than N hours), whether a run's end is told
// by a desktop notification (when something changed or failed, or every
// run), and how much each site's change journal keeps
// (the settings orvane-cli shares, see document/user_settings.h).
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace orvane {

class CUpdateNumSet : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMin = 1;
  static constexpr int kMax = 500;

  CUpdateNumSet(int current, int connections, QWidget* parent = nullptr);

  // The accepted number of sites at once.
  int Value() const;
  // The accepted connections per site.
  int Connections() const;
  // The scheduled updates shown: hours, 0 for off.
  void SetSchedule(int everyHours, int atStartHours, bool notify);
  // The accepted schedule: hours, 0 for off.
  int EveryHours() const;
  int AtStartHours() const;
  bool Notify() const;
  // Whether a run with nothing new and no failure is told too.
  void SetNotifyEveryRun(bool everyRun);
  bool NotifyEveryRun() const;
  // The change journal's limits shown and accepted: updates kept, MiB.
  void SetJournalLimits(int updates, int megabytes);
  int JournalUpdates() const;
  int JournalMegabytes() const;

  // Refuses (with the message, the dialog staying open) text that is not a
  // whole number from 1 to 500.
  void accept() override;

 private:
  void ShowTotal();

  QLineEdit* edit_;
  QSpinBox* connections_;
  QLabel* total_;
  QCheckBox* every_;
  QSpinBox* everyHours_;
  QCheckBox* atStart_;
  QSpinBox* atStartHours_;
  QCheckBox* notify_;
  QCheckBox* notifyEveryRun_;
  QSpinBox* journalUpdates_;
  QSpinBox* journalMegabytes_;
};

}  // namespace orvane
