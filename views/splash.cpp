#include "views/splash.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "document/version.h"

namespace orvane {

CSplash::CSplash(std::chrono::milliseconds minimumShown)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      minimumShown_(minimumShown) {
  setObjectName(QStringLiteral("splash"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(kPictureSize);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.topLeft() + CentredOrigin(area.size(), kPictureSize));
  }
  show();
  repaint();
  shown_.start();
}

QPoint CSplash::CentredOrigin(QSize screen, QSize picture) {
  // C++ division truncates toward zero, as the rule asks.
  return {(screen.width() - picture.width()) / 2, (screen.height() - picture.height()) / 2};
}

void CSplash::Finish(QWidget* mainWindow) {
  mainWindow_ = mainWindow;
  CloseWhenDue();
}

void CSplash::CloseWhenDue() {
  const auto elapsed = std::chrono::milliseconds(shown_.elapsed());
  const bool mainShown = !mainWindow_ || mainWindow_->isVisible();
  if (mainShown && elapsed >= minimumShown_) {
    close();
    return;
  }
  const auto wait = mainShown ? minimumShown_ - elapsed : std::chrono::milliseconds(20);
  QTimer::singleShot(wait, this, &CSplash::CloseWhenDue);
}

void CSplash::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area = rect();
  QLinearGradient sky(area.topLeft(), area.bottomLeft());
  sky.setColorAt(0, QColor(28, 74, 128));
  sky.setColorAt(1, QColor(12, 32, 58));
  painter.fillRect(area, sky);

  // A small tree of folders: what the program keeps of each site.
  painter.setPen(QPen(QColor(242, 201, 76), 3));
  const QPointF trunk(70, 110);
  for (int i = 0; i < 4; ++i) {
    const QPointF branch(110, 150 + 50 * i);
    painter.drawLine(QPointF(trunk.x(), trunk.y() + 20), QPointF(trunk.x(), branch.y()));
    painter.drawLine(QPointF(trunk.x(), branch.y()), branch);
    painter.fillRect(QRectF(branch.x(), branch.y() - 14, 40, 28), QColor(242, 201, 76));
  }
  painter.fillRect(QRectF(trunk.x() - 20, trunk.y() - 14, 40, 28), QColor(255, 123, 23));

  painter.setPen(Qt::white);
  QFont title = font();
  title.setPointSize(40);
  title.setBold(true);
  painter.setFont(title);
  painter.drawText(QRectF(200, 110, 330, 80), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Orvane"));
  QFont version = font();
  version.setPointSize(14);
  painter.setFont(version);
  painter.drawText(
      QRectF(204, 190, 330, 30), Qt::AlignLeft | Qt::AlignVCenter,
      QString::fromUtf8(kOrvaneVersion.data(), static_cast<qsizetype>(kOrvaneVersion.size())));
  painter.drawText(QRectF(204, 230, 330, 60), Qt::AlignLeft | Qt::TextWordWrap,
                   tr("离线浏览FTP站点的内容"));

  painter.setPen(QPen(QColor(140, 160, 190), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(area.adjusted(0.5, 0.5, -0.5, -0.5));
}

void CSplash::mousePressEvent(QMouseEvent*) {}

}  // namespace orvane
