#include "frame/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace orvane {

void FitToScreen(QWidget& window) {
  QScreen* screen = window.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  if (area.isEmpty()) return;
  // The frame (title bar, borders) is added by the window manager around
  // the geometry; leave room for it where it is known.
  const QSize frameExtra = window.frameGeometry().size() - window.geometry().size();
  const int width = std::min(window.width(), area.width() - frameExtra.width());
  const int height = std::min(window.height(), area.height() - frameExtra.height());
  if (width != window.width() || height != window.height()) {
    window.resize(std::max(width, 1), std::max(height, 1));
  }
  // Once shown (or restored), also keep the whole frame inside the area.
  QRect frame = window.frameGeometry();
  if (!area.contains(frame)) {
    frame.moveLeft(std::clamp(frame.left(), area.left(),
                              std::max(area.left(), area.right() - frame.width() + 1)));
    frame.moveTop(std::clamp(frame.top(), area.top(),
                             std::max(area.top(), area.bottom() - frame.height() + 1)));
    window.move(frame.topLeft());
  }
}

}  // namespace orvane
