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

// The session writes its facts in fixed English words ("Subject: ...",
// "Valid from A to B", "self-signed, expired"); they are put in the
// interface's language here. What the session does not know to say stays
// as it is.
QString DetailLine(const QString& line) {
  static const QLatin1String subject("Subject: ");
  static const QLatin1String issuer("Issuer: ");
  static const QLatin1String validFrom("Valid from ");
  static const QLatin1String to(" to ");
  if (line.startsWith(subject))
    return CCertificateDlg::tr("主体：%1").arg(line.mid(subject.size()));
  if (line.startsWith(issuer))
    return CCertificateDlg::tr("颁发者：%1").arg(line.mid(issuer.size()));
  if (line.startsWith(validFrom) && line.contains(to)) {
    const QString span = line.mid(validFrom.size());
    const qsizetype split = span.lastIndexOf(to);
    return CCertificateDlg::tr("有效期：%1 至 %2")
        .arg(span.left(split), span.mid(split + to.size()));
  }
  return line;
}

QString ProblemText(const QString& problems) {
  QStringList out;
  for (const QString& problem : problems.split(QStringLiteral(", "))) {
    if (problem == QLatin1String("self-signed")) {
      out << CCertificateDlg::tr("自签名");
    } else if (problem == QLatin1String("issued for another name")) {
      out << CCertificateDlg::tr("签发给其他名称");
    } else if (problem == QLatin1String("expired")) {
      out << CCertificateDlg::tr("已过期");
    } else if (problem == QLatin1String("not yet valid")) {
      out << CCertificateDlg::tr("尚未生效");
    } else if (problem == QLatin1String("unknown issuer")) {
      out << CCertificateDlg::tr("颁发者未知");
    } else if (problem == QLatin1String("not in any known-hosts file")) {
      out << CCertificateDlg::tr("不在任何已知主机文件中");
    } else {
      out << problem;
    }
  }
  return out.join(CCertificateDlg::tr("，"));
}

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
    lines << DetailLine(line);
  }
  if (!key.problem.empty()) {
    lines << tr("不受信任的原因：%1").arg(ProblemText(ServerText(key.problem)));
  }
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
