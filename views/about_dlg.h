// The About box: program icon, name and version, a picture, and who made it.
#pragma once

#include <QDialog>

namespace orvane {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr QSize kPictureSize{177, 72};

  explicit CAboutDlg(QWidget* parent = nullptr);
  // The picture beside the credits, drawn rather than stored.
  static QPixmap Picture();
};

}  // namespace orvane
