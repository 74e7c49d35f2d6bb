#include "frame/certificate_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "views/display_text.h"

namespace orvane {

namespace {

// Server bytes (UTF-8 as certificates and key types are) for display.
QString ServerText(const std::string& bytes) { return NameText(bytes, NameCharset::kUtf8); }

}  // namespace

CCertificateDlg::CCertificateDlg(const QString& siteLabel, SiteProtocol protocol,
                                 const PresentedKey& key, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("certificateDialog"));
  const bool ssh = protocol == SiteProtocol::kSftp;
  setWindowTitle(ssh ? tr("服务器主机密钥") : tr("服务器证书"));

  const bool changed = !key.pinned.empty();
  QString text;
  if (changed) {
    text = (ssh ? tr("警告：站点“%1”的服务器主机密钥已经改变！")
                : tr("警告：站点“%1”的服务器证书已经改变！"))
               .arg(siteLabel) +
           QLatin1Char('\n') + tr("可能有人在截取连接。只有确知服务器更换了密钥时才接受新的密钥。");
  } else {
    text = (ssh ? tr("站点“%1”的服务器出示的主机密钥不在信任列表中。")
                : tr("站点“%1”的服务器出示的证书不受系统信任。"))
               .arg(siteLabel) +
           QLatin1Char('\n') + tr("请核对指纹后再接受。接受后只信任这个密钥。");
  }
  auto* message = new QLabel(text, this);
  message->setObjectName(QStringLiteral("messageLabel"));
  message->setWordWrap(true);
  message->setTextFormat(Qt::PlainText);

  QStringList lines;
  for (const QString& line : ServerText(key.details).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    lines << line;
  }
  if (!key.problem.empty()) lines << tr("不受信任的原因：%1").arg(ServerText(key.problem));
  lines << tr("SHA-256 指纹：%1").arg(QString::fromStdString(key.fingerprint));
  if (changed) lines << tr("之前接受的指纹：%1").arg(QString::fromStdString(key.pinned));
  details_ = new QPlainTextEdit(lines.join(QLatin1Char('\n')), this);
  details_->setObjectName(QStringLiteral("detailsText"));
  details_->setReadOnly(true);
  details_->setLineWrapMode(QPlainTextEdit::NoWrap);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* accept = buttons->button(QDialogButtonBox::Ok);
  accept->setText(tr("接受并更新"));
  accept->setObjectName(QStringLiteral("acceptButton"));
  QPushButton* reject = buttons->button(QDialogButtonBox::Cancel);
  reject->setText(tr("拒绝"));
  reject->setObjectName(QStringLiteral("rejectButton"));
  // Enter must not accept a key that replaced the one accepted before.
  accept->setAutoDefault(false);
  reject->setAutoDefault(changed);
  accept->setDefault(!changed);
  reject->setDefault(changed);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message);
  layout->addWidget(details_);
  layout->addWidget(buttons);
  resize(640, 320);
  (changed ? reject : accept)->setFocus();
}

QString CCertificateDlg::DetailsText() const { return details_->toPlainText(); }

}  // namespace orvane
