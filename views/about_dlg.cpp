#include "views/about_dlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "document/version.h"
#include "views/state_icons.h"

namespace orvane {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDlg"));
  setWindowTitle(tr("关于 Orvane"));

  auto* icon = new QLabel(this);
  const QIcon appIcon = QApplication::windowIcon();
  icon->setPixmap((appIcon.isNull() ? CStateIcons::FolderIcon() : appIcon).pixmap(32, 32));
  auto* name = new QLabel(
      QStringLiteral("Orvane ") +
          QString::fromUtf8(kOrvaneVersion.data(), static_cast<qsizetype>(kOrvaneVersion.size())),
      this);
  name->setTextFormat(Qt::PlainText);
  auto* ok = new QPushButton(tr("确定"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addWidget(name, 1);
  top->addWidget(ok, 0, Qt::AlignTop);

  auto* picture = new QLabel(this);
  picture->setPixmap(Picture());
  picture->setAlignment(Qt::AlignCenter);

  auto* credits = new QGridLayout;
  const auto row = [this, credits](int r, const QString& label, const QString& value) {
    credits->addWidget(new QLabel(label, this), r, 0);
    auto* text = new QLabel(value, this);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    credits->addWidget(text, r, 1);
  };
  row(0, tr("作者"), tr("Orvane 开发者"));
  row(1, tr("主页"), tr("无"));
  row(2, tr("邮箱"), tr("无"));

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(picture);
  bottom->addLayout(credits, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QPixmap CAboutDlg::Picture() {
  QPixmap pixmap(kPictureSize);
  pixmap.fill(QColor(28, 74, 128));
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // Three folders, the middle one new.
  const QColor folder(242, 201, 76);
  for (int i = 0; i < 3; ++i) {
    const QRectF box(22 + 50 * i, 24, 34, 26);
    painter.fillRect(box.adjusted(0, -5, -20, -box.height() + 5),
                     i == 1 ? QColor(255, 123, 23) : folder);
    painter.fillRect(box, i == 1 ? QColor(255, 123, 23) : folder);
  }
  return pixmap;
}

}  // namespace orvane
