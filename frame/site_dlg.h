// The site dialog ("服务器"): host, login, port, nickname and remarks of one
// FTP site, for adding a site and for editing one, and how it is reached:
// the protocol (plain FTP, FTP with TLS required, implicit TLS, SFTP), the
// server directory its catalog begins at, and for SFTP the private key
// file to log in with (the password field then holds its passphrase).
//
// Texts are shown as the code page 936 they are stored in, and typed text
// is stored as code page 936 bytes, as site.ds keeps it. The character set
// of the server's names is chosen in a list ("auto" shows what it decided
// for the site's catalog). A field the user leaves as it was shown
// keeps its stored bytes exactly, so editing the nickname never rewrites a
// host whose bytes are not valid text (and never renames its data
// directory). OK is refused, with a message and the dialog left open, when
// the port is not 1-65535 or the fields break the rules of
// document/site_fields.h (a host that is no host name or address, a line
// break or NUL in the login, a key too long for a file name, a typed
// character that code page 936 cannot store), or the start directory is
// not an absolute server directory. A new protocol moves a port left at
// the old one's default to the new one's; a new host, port or protocol
// forgets the server key accepted for the site.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "document/orvane_doc.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace orvane {

class CFTPSite;

class CSiteDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSiteDlg(QWidget* parent = nullptr);

  // Fills the fields from a site: an anonymous site shows the anonymous box
  // checked and both login fields empty and disabled.
  void FillFrom(const CFTPSite& site);

  // The accepted values, as stored bytes. With the anonymous box checked the
  // login is "anonymous" and the anonymous placeholder password.
  std::string Host() const;
  std::string UserName() const;
  std::string Password() const;
  std::uint32_t Port() const;
  bool Anonymous() const;
  bool AnonymousUpdate() const;
  std::string Nickname() const;
  std::string Remarks() const;
  NameCharset Charset() const;
  SiteProtocol Protocol() const;
  // The start directory as typed, in normal form ("/" when it is none).
  std::string StartDir() const;
  std::string KeyFile() const;
  // All of the above as the document takes them.
  SiteSettings Settings() const;

  // A check of the whole site against the others (a duplicate login, say):
  // returns why OK is refused, or empty. The dialog then stays open with
  // everything typed, after the message.
  using SiteCheck = std::function<QString(const SiteSettings&)>;
  void SetSiteCheck(SiteCheck check) { siteCheck_ = std::move(check); }

  void accept() override;

 private:
  // One text field with what it was filled with, so an untouched field
  // gives back its stored bytes.
  struct TextField {
    std::string stored;
    QString shown;
  };
  static std::string Stored(const TextField& field, const QString& text);
  void SetText(TextField& field, QLineEdit* edit, const std::string& bytes);
  void AnonymousToggled(bool checked);
  void ProtocolChosen();
  void ChooseKeyFile();
  // The reason OK is refused, or empty.
  QString Problem() const;

  QLineEdit* host_;
  QCheckBox* anonymous_;
  QLineEdit* user_;
  QLineEdit* password_;
  QLineEdit* port_;
  QLineEdit* nickname_;
  QPlainTextEdit* remarks_;
  QCheckBox* anonymousUpdate_;
  QComboBox* charset_;
  QComboBox* protocol_;
  QLineEdit* startDir_;
  QLineEdit* keyFile_;
  QPushButton* keyFileButton_;
  SiteCheck siteCheck_;
  TextField hostField_, userField_, passwordField_, nicknameField_, remarksField_;
  TextField startDirField_, keyFileField_;
  // The protocol chosen before the current one (whose default port a port
  // left at it follows).
  SiteProtocol shownProtocol_ = SiteProtocol::kFtp;
  // The site an edit started from: fields it keeps are not checked again.
  std::optional<SiteSettings> filledFrom_;
};

}  // namespace orvane
