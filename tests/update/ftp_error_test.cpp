#include "update/ftp_error.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(FtpError, FailureKindsFollowCurlCodeAndReply) {
  using Failure = SiteStatus::Failure;
  const struct {
    int curl;
    long reply;
    Failure kind;
  } cases[] = {
      {CURLE_LOGIN_DENIED, 530, Failure::kLoginRefused},
      {CURLE_OK, 530, Failure::kLoginRefused},
      {CURLE_COULDNT_RESOLVE_HOST, 0, Failure::kHostNotFound},
      {CURLE_COULDNT_CONNECT, 0, Failure::kRefused},
      {CURLE_OPERATION_TIMEDOUT, 0, Failure::kTimedOut},
      // libcurl reports a 421 as a time-out; the server closed the session.
      {CURLE_OPERATION_TIMEDOUT, 421, Failure::kClosed},
      {CURLE_GOT_NOTHING, 0, Failure::kClosed},
      {CURLE_RECV_ERROR, 226, Failure::kClosed},
      {CURLE_WEIRD_SERVER_REPLY, 0, Failure::kServerError},
      {CURLE_OK, 550, Failure::kServerError},
      {CURLE_OUT_OF_MEMORY, 0, Failure::kOther},
  };
  for (const auto& c : cases) {
    FtpResult result;
    result.outcome = FtpOutcome::kRefused;
    result.curlCode = c.curl;
    result.replyCode = c.reply;
    EXPECT_EQ(FailureOf(result), c.kind) << c.curl << " " << c.reply;
  }
  EXPECT_EQ(FailureOf(FtpResult{}), Failure::kNone);
}

}  // namespace
}  // namespace orvane
