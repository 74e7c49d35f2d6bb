// "设置更新线程": how many sites are updated at once (1 to 500) and how many
// connections each site's crawl may use (1 to 16). The program opens at most
// the product of the two; the dialog says so as the values change.
#pragma once

#include <QDialog>

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
  // Refuses (with the message, the dialog staying open) text that is not a
  // whole number from 1 to 500.
  void accept() override;

 private:
  void ShowTotal();

  QLineEdit* edit_;
  QSpinBox* connections_;
  QLabel* total_;
};

}  // namespace orvane
