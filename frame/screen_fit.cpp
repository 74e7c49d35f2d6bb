#include "frame/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>

namespace orvane {

namespace {

// The window manager adds its frame some time after the window is shown;
// Qt learns it with the move that follows. This fits the window once more
// then, and goes.
class FrameWatcher : public QObject {
 public:
  explicit FrameWatcher(QWidget& window) : QObject(&window), window_(window) {
    setObjectName(QStringLiteral("frameWatcher"));
    window.installEventFilter(this);
    // A window manager that adds no frame sends no such move.
    QTimer::singleShot(std::chrono::seconds(5), this, &QObject::deleteLater);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &window_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize) &&
        window_.frameGeometry() != window_.geometry()) {
      window_.removeEventFilter(this);
      deleteLater();
      FitToScreen(window_);
    }
    return false;
  }

 private:
  QWidget& window_;
};

}  // namespace

void FitToScreen(QWidget& window) {
  QScreen* screen = window.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  if (area.isEmpty()) return;
  // The frame (title bar, borders) is added by the window manager around
  // the geometry; leave room for it where it is known.
  const QSize frameExtra = window.frameGeometry().size() - window.geometry().size();
  if (window.isVisible() && frameExtra.isNull() &&
      !window.findChild<QObject*>(QStringLiteral("frameWatcher"), Qt::FindDirectChildrenOnly)) {
    new FrameWatcher(window);
  }
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
