// The splash screen shown while the program starts.
//
// A borderless top-level window of 550 x 373 pixels with a thin frame,
// centred on the primary screen (it may reach past the edges of a smaller
// screen). It cannot be clicked away. Finish() closes it once the main
// window is shown and the splash has been up for its minimum time; the
// event loop keeps running meanwhile, so start-up is not slowed by it.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <chrono>

namespace orvane {

class CSplash : public QWidget {
  Q_OBJECT

 public:
  static constexpr QSize kPictureSize{550, 373};

  // Shows and paints itself at once. Tests pass a zero minimum.
  explicit CSplash(std::chrono::milliseconds minimumShown = std::chrono::milliseconds(1000));
  // Closes and deletes the splash when `mainWindow` is visible and the
  // minimum time has passed (at once when both hold already). The splash
  // must have been made with new.
  void Finish(QWidget* mainWindow);
  // Top-left corner that centres a picture on a screen (integer halves,
  // negative on a screen smaller than the picture).
  static QPoint CentredOrigin(QSize screen, QSize picture);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void CloseWhenDue();

  std::chrono::milliseconds minimumShown_;
  QElapsedTimer shown_;
  QPointer<QWidget> mainWindow_;
};

}  // namespace orvane
