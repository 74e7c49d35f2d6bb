// The small box shown while closing waits for running updates: "正在关闭连接,
// 请稍候" with a dot more every second (one to five, then none again). It
// closes itself at the first tick that finds no work left.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QTimer;

namespace orvane {

class CCloseDlg : public QDialog {
  Q_OBJECT

 public:
  // `hasWork` is asked once a second; the box closes when it says false.
  explicit CCloseDlg(std::function<bool()> hasWork, QWidget* parent = nullptr);

  // How often the box looks.
  static constexpr int kTickMs = 1000;

  // Neither Escape nor the window's close button ends the wait.
  void reject() override {}

 private:
  void Tick();

  std::function<bool()> hasWork_;
  QLabel* label_;
  QTimer* timer_;
  QString text_;
};

}  // namespace orvane
