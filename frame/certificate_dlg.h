// The certificate dialog ("服务器证书"): what a site's server presented
// when an update found it neither trusted by the system nor the key
// accepted for the site before: subject, issuer and validity (or the SSH
// host key's type), why it is not trusted, and its SHA-256 fingerprint.
// When the server's key changed from the one accepted, a warning names
// both fingerprints and the safe answer (reject) is the default button.
//
// Accepting pins the key for the site (document/site_trust.h); rejecting
// leaves the site failed. The server's texts are shown with control and
// format characters written out, so a certificate cannot pose as another
// text.
#pragma once

#include <QDialog>
#include <QString>

#include "catalog/ftp_site.h"

class QLabel;
class QPlainTextEdit;

namespace orvane {

class CCertificateDlg : public QDialog {
  Q_OBJECT

 public:
  // `siteLabel` names the site (its nickname or key) for the user.
  CCertificateDlg(const QString& siteLabel, SiteProtocol protocol, const PresentedKey& key,
                  QWidget* parent = nullptr);

  // What the dialog shows in its details box, one fact a line.
  QString DetailsText() const;

 private:
  QPlainTextEdit* details_;
};

}  // namespace orvane
