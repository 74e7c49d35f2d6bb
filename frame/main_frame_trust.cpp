// The certificate dialog during updates: a site whose server presented a
// key that is not trusted is asked about once its update has failed.
#include <QTimer>

#include "catalog/ftp_site.h"
#include "document/engine_bridge.h"
#include "document/site_trust.h"
#include "frame/certificate_dlg.h"
#include "frame/dialog_seam.h"
#include "frame/frame_views.h"
#include "frame/main_frame.h"
#include "update/update_engine.h"
#include "views/display_text.h"

namespace orvane {

IEngineListener& CMainFrame::engineListener() { return *bridge_; }

void CMainFrame::OfferTrust(const std::shared_ptr<CFTPSite>& site) {
  // One question a site, however often its status is posted.
  for (const auto& queued : trustQueue_) {
    if (queued.lock() == site) return;
  }
  trustQueue_.push_back(site);
  // Never from inside the notice: the dialog waits for the user.
  if (!trustAsking_) QTimer::singleShot(0, this, &CMainFrame::AskTrust);
}

void CMainFrame::AskTrust() {
  if (trustAsking_) return;
  trustAsking_ = true;
  while (!trustQueue_.empty() && !quitting_) {
    const std::shared_ptr<CFTPSite> site = trustQueue_.front().lock();
    trustQueue_.pop_front();
    if (!site || site->removed.load()) continue;
    // Offered twice, or updated again meanwhile: asked only while it still
    // fails for its key.
    const SiteStatus status = site->Status();
    if (status.failure != SiteStatus::Failure::kUntrusted || status.state != kUpdateFailed) {
      continue;
    }
    const QString label = SiteText(site->nickname.empty() ? site->siteKey() : site->nickname);
    CCertificateDlg dialog(label, site->Protocol(), status.presented, this);
    if (CDialogSeam::Exec(dialog) != QDialog::Accepted) continue;
    std::string error;
    const SiteChange change = TrustPresentedKey(*doc_, *site, status.presented, &error);
    if (change == SiteChange::kRefused) {
      CDialogSeam::Inform(this, tr("站点正在更新，请在更新结束后再接受它的密钥。"));
      continue;
    }
    if (change != SiteChange::kSaved) {
      CDialogSeam::Warn(
          this, tr("密钥无法保存（%1），站点保持原样。").arg(QString::fromStdString(error)));
      continue;
    }
    UpdateSite(site);
  }
  trustAsking_ = false;
}

void CMainFrame::UpdateSite(const std::shared_ptr<CFTPSite>& site) {
  BeginRun({site});
  engine_->SetCrawlLimits(doc_->userSettings().crawlLimits());
  if (engine_->UpdateAll({site}) == 0) return;
  dirView_->UpdateSiteItem(site.get());
  ShowProgress();
  progressTimer_->start();
}

}  // namespace orvane
