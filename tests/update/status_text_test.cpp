// The status texts built from a site's status value: the exact texts the
// front ends show.
#include "update/status_text.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

using Outcome = SiteStatus::Outcome;

TEST(StatusTextTest, EveryOutcomeHasItsText) {
  struct Case {
    Outcome outcome;
    std::string errorText;
    std::string expected;
  };
  const Case cases[] = {
      {Outcome::kNone, "", "未更新"},
      {Outcome::kWaiting, "", "正在等待更新..."},
      {Outcome::kConnecting, "", "正在连接..."},
      {Outcome::kConnected, "", "已连接,正在更新..."},
      {Outcome::kSucceeded, "", "更新成功"},
      {Outcome::kFailed, "Couldn't connect to server", "更新失败:\nCouldn't connect to server"},
      {Outcome::kNoSession, "", "更新失败:\n创建Internet会话失败"},
      {Outcome::kStopped, "", "更新终止！"},
      {Outcome::kStoppedQueued, "", "更新终止!"},
      {Outcome::kBrokenOff, "Timeout was reached", "更新意外终止:\nTimeout was reached"},
      {Outcome::kResuming, "Timeout was reached",
       "更新意外终止:\nTimeout was reached\t等待继续更新"},
  };
  for (const Case& c : cases) {
    SiteStatus status;
    status.outcome = c.outcome;
    status.errorText = c.errorText;
    // Neither the state nor the counts change the text.
    status.state = kUpdateStopped;
    status.counts.dirsNotEntered = 3;
    EXPECT_EQ(StatusText(status), c.expected) << static_cast<int>(c.outcome);
  }
}

}  // namespace
}  // namespace orvane
