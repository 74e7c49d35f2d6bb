#include "update/status_text.h"

#include "update/crawler.h"
#include "update/update_engine.h"

namespace orvane {

std::string StatusText(const SiteStatus& status) {
  using Outcome = SiteStatus::Outcome;
  switch (status.outcome) {
    case Outcome::kNone:
      return std::string(kStatusNotUpdated);
    case Outcome::kWaiting:
      return std::string(kStatusWaiting);
    case Outcome::kConnecting:
      return std::string(kStatusConnecting);
    case Outcome::kConnected:
      return std::string(kStatusConnected);
    case Outcome::kSucceeded:
      return std::string(kStatusSucceeded);
    case Outcome::kFailed:
      return std::string(kStatusFailed) + status.errorText;
    case Outcome::kNoSession:
      return std::string(kStatusNoSession);
    case Outcome::kStopped:
      return std::string(kStatusStopped);
    case Outcome::kStoppedQueued:
      return std::string(kStatusStoppedQueued);
    case Outcome::kBrokenOff:
      return std::string(kStatusBrokenOff) + status.errorText;
    case Outcome::kResuming:
      return std::string(kStatusBrokenOff) + status.errorText + std::string(kStatusResuming);
  }
  return std::string(kStatusNotUpdated);
}

}  // namespace orvane
