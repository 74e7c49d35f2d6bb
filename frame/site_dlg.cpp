#include "frame/site_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "catalog/ftp_site.h"
#include "document/site_fields.h"
#include "document/site_trust.h"
#include "frame/dialog_seam.h"
#include "views/display_text.h"

namespace orvane {

namespace {

constexpr std::uint32_t kDefaultPort = 21;

constexpr SiteProtocol kProtocols[] = {SiteProtocol::kFtp, SiteProtocol::kFtpes,
                                       SiteProtocol::kFtps, SiteProtocol::kSftp};

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}

}  // namespace

CSiteDlg::CSiteDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("siteDialog"));
  setWindowTitle(tr("服务器"));

  host_ = MakeEdit(this, "hostEdit");
  anonymous_ = new QCheckBox(tr("匿名"), this);
  anonymous_->setObjectName(QStringLiteral("anonymousCheck"));
  user_ = MakeEdit(this, "userEdit");
  password_ = MakeEdit(this, "passwordEdit");
  password_->setEchoMode(QLineEdit::Password);
  port_ = MakeEdit(this, "portEdit");
  port_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), port_));
  port_->setText(QString::number(kDefaultPort));
  nickname_ = MakeEdit(this, "nicknameEdit");
  remarks_ = new QPlainTextEdit(this);
  remarks_->setObjectName(QStringLiteral("remarksEdit"));
  remarks_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  remarks_->setTabChangesFocus(true);
  anonymousUpdate_ = new QCheckBox(tr("是否匿名更新站点内容"), this);
  anonymousUpdate_->setObjectName(QStringLiteral("anonymousUpdateCheck"));
  charset_ = new QComboBox(this);
  charset_->setObjectName(QStringLiteral("charsetCombo"));
  for (const NameCharset charset : kAllNameCharsets) {
    charset_->addItem(charset == NameCharset::kAuto ? tr("自动") : CharsetLabel(charset),
                      static_cast<int>(charset));
  }

  protocol_ = new QComboBox(this);
  protocol_->setObjectName(QStringLiteral("protocolCombo"));
  for (const SiteProtocol protocol : kProtocols) {
    QString label;
    switch (protocol) {
      case SiteProtocol::kFtp:
        label = tr("FTP（不加密）");
        break;
      case SiteProtocol::kFtpes:
        label = tr("FTPES（显式 TLS，必须加密）");
        break;
      case SiteProtocol::kFtps:
        label = tr("FTPS（隐式 TLS）");
        break;
      case SiteProtocol::kSftp:
        label = tr("SFTP（SSH）");
        break;
    }
    protocol_->addItem(label, static_cast<int>(protocol));
  }
  startDir_ = MakeEdit(this, "startDirEdit");
  startDir_->setText(QStringLiteral("/"));
  startDirField_ = {"/", QStringLiteral("/")};
  startDir_->setToolTip(tr("站点目录从服务器上的这个目录开始，例如 /pub"));
  keyFile_ = MakeEdit(this, "keyFileEdit");
  keyFile_->setToolTip(tr("用这个私钥文件登录 SFTP 站点；密码一栏填写密钥的密码短语"));
  keyFileButton_ = new QPushButton(tr("浏览..."), this);
  keyFileButton_->setObjectName(QStringLiteral("keyFileButton"));
  auto* keyRow = new QHBoxLayout;
  keyRow->addWidget(keyFile_);
  keyRow->addWidget(keyFileButton_);

  auto* form = new QFormLayout;
  form->addRow(tr("协议"), protocol_);
  form->addRow(tr("站点"), host_);
  form->addRow(QString(), anonymous_);
  form->addRow(tr("用户名"), user_);
  form->addRow(tr("密码"), password_);
  form->addRow(tr("端口号"), port_);
  form->addRow(tr("起始目录"), startDir_);
  form->addRow(tr("密钥文件"), keyRow);
  form->addRow(tr("站点昵称:"), nickname_);
  form->addRow(tr("备注:"), remarks_);
  form->addRow(QString(), anonymousUpdate_);
  form->addRow(tr("文件名编码"), charset_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
  buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CSiteDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CSiteDlg::reject);
  connect(anonymous_, &QCheckBox::toggled, this, &CSiteDlg::AnonymousToggled);
  connect(protocol_, &QComboBox::currentIndexChanged, this, &CSiteDlg::ProtocolChosen);
  connect(keyFileButton_, &QPushButton::clicked, this, &CSiteDlg::ChooseKeyFile);
  ProtocolChosen();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  host_->setFocus();
}

void CSiteDlg::SetText(TextField& field, QLineEdit* edit, const std::string& bytes) {
  field.stored = bytes;
  field.shown = SiteText(bytes);
  edit->setText(field.shown);
}

void CSiteDlg::FillFrom(const CFTPSite& site) {
  filledFrom_ = SiteSettings::Of(site);
  SetText(hostField_, host_, site.host);
  const SiteAccess access = site.Access();
  // The port it connects to, which is what a user knows it by.
  port_->setText(QString::number(site.ConnectionPort()));
  shownProtocol_ = access.protocol;
  protocol_->setCurrentIndex(protocol_->findData(static_cast<int>(access.protocol)));
  startDirField_ = {access.startDir,
                    QString::fromUtf8(access.startDir.data(), qsizetype(access.startDir.size()))};
  startDir_->setText(startDirField_.shown);
  keyFileField_ = {access.keyFile, QFile::decodeName(QByteArray::fromStdString(access.keyFile))};
  keyFile_->setText(keyFileField_.shown);
  ProtocolChosen();
  const bool anonymous = site.IsAnonymous();
  if (anonymous) {
    SetText(userField_, user_, {});
    SetText(passwordField_, password_, {});
  } else {
    SetText(userField_, user_, site.userName);
    SetText(passwordField_, password_, site.password);
  }
  anonymous_->setChecked(anonymous);
  AnonymousToggled(anonymous);
  anonymousUpdate_->setChecked(site.anonymousUpdate);
  SetText(nicknameField_, nickname_, site.nickname);
  remarksField_.stored = site.remarks;
  remarksField_.shown = SiteText(site.remarks);
  remarks_->setPlainText(remarksField_.shown);
  const NameCharset decided = site.decidedCharset.load();
  if (decided != NameCharset::kAuto) {
    charset_->setItemText(0, tr("自动（当前：%1）").arg(CharsetLabel(decided)));
  }
  charset_->setCurrentIndex(charset_->findData(static_cast<int>(site.charset.load())));
}

void CSiteDlg::AnonymousToggled(bool checked) {
  user_->setEnabled(!checked);
  password_->setEnabled(!checked);
}

void CSiteDlg::ProtocolChosen() {
  const SiteProtocol protocol = Protocol();
  // A port left at the old protocol's default follows to the new one's.
  if (port_->text() == QString::number(DefaultPort(shownProtocol_))) {
    port_->setText(QString::number(DefaultPort(protocol)));
  }
  shownProtocol_ = protocol;
  const bool ssh = protocol == SiteProtocol::kSftp;
  keyFile_->setEnabled(ssh);
  keyFileButton_->setEnabled(ssh);
}

void CSiteDlg::ChooseKeyFile() {
  QFileDialog dialog(this, tr("选择私钥文件"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setOption(QFileDialog::ReadOnly, true);
  dialog.setDirectory(QDir::homePath() + QStringLiteral("/.ssh"));
  const QString path = CDialogSeam::OpenFile(dialog);
  if (!path.isEmpty()) keyFile_->setText(path);
}

std::string CSiteDlg::Stored(const TextField& field, const QString& text) {
  if (text == field.shown) return field.stored;
  return EncodeTyped(text);
}

std::string CSiteDlg::Host() const { return Stored(hostField_, host_->text()); }

std::string CSiteDlg::UserName() const {
  if (Anonymous()) return "anonymous";
  return Stored(userField_, user_->text());
}

std::string CSiteDlg::Password() const {
  if (Anonymous()) return std::string(kAnonymousPassword);
  return Stored(passwordField_, password_->text());
}

std::uint32_t CSiteDlg::Port() const { return port_->text().toUInt(); }
bool CSiteDlg::Anonymous() const { return anonymous_->isChecked(); }
bool CSiteDlg::AnonymousUpdate() const { return anonymousUpdate_->isChecked(); }
std::string CSiteDlg::Nickname() const { return Stored(nicknameField_, nickname_->text()); }

std::string CSiteDlg::Remarks() const { return Stored(remarksField_, remarks_->toPlainText()); }

NameCharset CSiteDlg::Charset() const {
  return static_cast<NameCharset>(charset_->currentData().toInt());
}

SiteProtocol CSiteDlg::Protocol() const {
  return static_cast<SiteProtocol>(protocol_->currentData().toInt());
}

std::string CSiteDlg::StartDir() const {
  if (startDir_->text() == startDirField_.shown) return startDirField_.stored;
  const QByteArray typed = startDir_->text().trimmed().toUtf8();
  return NormalStartDirectory(std::string_view(typed.constData(), std::size_t(typed.size())))
      .value_or(std::string(1, '/'));
}

std::string CSiteDlg::KeyFile() const {
  if (Protocol() != SiteProtocol::kSftp) return {};
  if (keyFile_->text() == keyFileField_.shown) return keyFileField_.stored;
  return QFile::encodeName(keyFile_->text().trimmed()).toStdString();
}

SiteSettings CSiteDlg::Settings() const {
  SiteSettings settings;
  settings.host = Host();
  settings.userName = UserName();
  settings.password = Password();
  settings.port = Port();
  settings.nickname = Nickname();
  settings.remarks = Remarks();
  settings.anonymousUpdate = AnonymousUpdate();
  settings.charset = Charset();
  settings.access.protocol = Protocol();
  settings.access.startDir = StartDir();
  settings.access.keyFile = KeyFile();
  // The key accepted for the server stays with that server.
  if (filledFrom_ && SameServer(*filledFrom_, settings)) {
    settings.access.pin = filledFrom_->access.pin;
  }
  return settings;
}

QString CSiteDlg::Problem() const {
  bool isNumber = false;
  const uint port = port_->text().toUInt(&isNumber);
  if (!isNumber || port < 1 || port > 65535) {
    return tr("端口号必须是 1 到 65535 之间的整数。");
  }
  const QString host = host_->text();
  if (host.isEmpty()) return tr("请输入站点地址。");
  if (startDir_->text() != startDirField_.shown) {
    const QByteArray typed = startDir_->text().trimmed().toUtf8();
    if (!NormalStartDirectory(std::string_view(typed.constData(), std::size_t(typed.size())))) {
      return tr("起始目录必须是以“/”开头的服务器目录，不能含有“.”或“..”。");
    }
  }
  if (Protocol() == SiteProtocol::kSftp && keyFile_->text() != keyFileField_.shown &&
      !keyFile_->text().trimmed().isEmpty() &&
      (!QFileInfo(keyFile_->text().trimmed()).isAbsolute() ||
       !QFileInfo(keyFile_->text().trimmed()).isFile())) {
    return tr("找不到密钥文件“%1”。").arg(keyFile_->text().trimmed());
  }
  const auto label = [this](SiteField field) {
    switch (field) {
      case SiteField::kHost:
        return tr("站点");
      case SiteField::kUserName:
        return tr("用户名");
      case SiteField::kPassword:
        return tr("密码");
      case SiteField::kNickname:
        return tr("站点昵称");
      case SiteField::kRemarks:
        return tr("备注");
    }
    return QString();
  };
  // Only what was typed is encoded; a field left as shown keeps its bytes.
  struct Typed {
    SiteField field;
    QString text;
    const TextField* stored;
    bool used;
  };
  const Typed typed[] = {
      {SiteField::kHost, host, &hostField_, true},
      {SiteField::kUserName, user_->text(), &userField_, !Anonymous()},
      {SiteField::kPassword, password_->text(), &passwordField_, !Anonymous()},
      {SiteField::kNickname, nickname_->text(), &nicknameField_, true},
      {SiteField::kRemarks, remarks_->toPlainText(), &remarksField_, true},
  };
  for (const Typed& t : typed) {
    if (!t.used || t.text == t.stored->shown) continue;
    const QByteArray utf8 = t.text.toUtf8();
    const SiteFieldProblem problem =
        CheckTypedField(t.field, std::string_view(utf8.constData(), std::size_t(utf8.size())));
    if (!problem.ok()) {
      return tr("“%1”中的字符无法保存（站点列表使用 GBK 编码）：%2")
          .arg(label(t.field),
               QString::fromUtf8(problem.characters.data(), qsizetype(problem.characters.size())));
    }
  }
  const SiteSettings settings = Settings();
  const SiteFieldProblem problem =
      CheckSiteSettings(settings, filledFrom_ ? &*filledFrom_ : nullptr);
  switch (problem.kind) {
    case SiteFieldProblem::Kind::kNone:
    case SiteFieldProblem::Kind::kNoGbkForm:
      return {};
    case SiteFieldProblem::Kind::kEmptyHost:
      return tr("请输入站点地址。");
    case SiteFieldProblem::Kind::kBadHost:
      return tr("站点地址必须是主机名、IPv4 地址或 IPv6 地址。");
    case SiteFieldProblem::Kind::kLineBreak:
      return tr("“%1”不能包含换行符或空字符。").arg(label(problem.field));
    case SiteFieldProblem::Kind::kKeyTooLong:
      return tr("站点地址和用户名太长，无法作为数据目录的名称。");
  }
  return {};
}

void CSiteDlg::accept() {
  QString problem = Problem();
  if (problem.isEmpty() && siteCheck_) problem = siteCheck_(Settings());
  if (!problem.isEmpty()) {
    CDialogSeam::Warn(this, problem);
    return;
  }
  QDialog::accept();
}

}  // namespace orvane
