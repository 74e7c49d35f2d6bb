#include "frame/tray_icon.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace orvane {

CTrayIcon::CTrayIcon(QWidget* window, std::function<void()> updateNow, std::function<void()> quit,
                     QObject* parent)
    : QObject(parent),
      window_(window),
      updateNow_(std::move(updateNow)),
      quit_(std::move(quit)),
      // A tray menu has no parent widget: it must not go with the window it
      // shows.
      menu_(new QMenu) {
  menu_->setObjectName(QStringLiteral("trayMenu"));
  QAction* show = menu_->addAction(tr("显示窗口"), this, [this] { ShowWindow(); });
  show->setObjectName(QStringLiteral("actionTrayShow"));
  QAction* update = menu_->addAction(tr("立即更新"), this, [this] { updateNow_(); });
  update->setObjectName(QStringLiteral("actionTrayUpdate"));
  menu_->addSeparator();
  QAction* quitAction = menu_->addAction(tr("退出"), this, [this] { quit_(); });
  quitAction->setObjectName(QStringLiteral("actionTrayQuit"));
}

CTrayIcon::~CTrayIcon() {
  delete icon_;
  delete menu_;
}

void CTrayIcon::SetActive(bool active) {
  if (!active || !QSystemTrayIcon::isSystemTrayAvailable()) {
    if (icon_) icon_->hide();
    QApplication::setQuitOnLastWindowClosed(true);
    return;
  }
  if (!icon_) {
    icon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/frame/orvane.svg")), this);
    icon_->setToolTip(toolTip_);
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
              if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                ShowWindow();
            });
  }
  icon_->show();
  // A dialog closed while the window is in the tray must not end the
  // program; only Quit does.
  QApplication::setQuitOnLastWindowClosed(false);
}

void CTrayIcon::SetToolTip(const QString& text) {
  toolTip_ = text;
  if (icon_) icon_->setToolTip(text);
}

bool CTrayIcon::KeepsRunning() const { return icon_ && icon_->isVisible(); }

void CTrayIcon::ShowWindow() {
  if (window_->isMinimized()) {
    window_->showNormal();
  } else {
    window_->show();
  }
  window_->raise();
  window_->activateWindow();
}

}  // namespace orvane
