// The icon in the desktop's tray while updates run by themselves: closing
// the window then only hides it, and the program keeps updating in the
// background. Its menu shows the window, starts an update of every site
// or quits; a click on the icon shows the window. Its tool tip gives the
// last and the next update, and a running update's progress.
//
// Only where the desktop has a tray (QSystemTrayIcon::isSystemTrayAvailable);
// elsewhere SetActive does nothing and closing the window quits as ever.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace orvane {

class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  CTrayIcon(QWidget* window, std::function<void()> updateNow, std::function<void()> quit,
            QObject* parent = nullptr);
  ~CTrayIcon() override;

  // Shows the icon (where there is a tray) or takes it away.
  void SetActive(bool active);
  // Whether closing the window should leave the program running.
  bool KeepsRunning() const;
  // Shows the window where it was, in front.
  void ShowWindow();
  // The icon's menu (made whether or not there is a tray).
  QMenu* menu() const { return menu_; }
  // The tool tip, kept whether or not there is a tray.
  void SetToolTip(const QString& text);
  const QString& toolTip() const { return toolTip_; }

 private:
  QWidget* window_;
  std::function<void()> updateNow_;
  std::function<void()> quit_;
  QMenu* menu_;
  QSystemTrayIcon* icon_ = nullptr;
  QString toolTip_ = QStringLiteral("Orvane");
};

}  // namespace orvane
