// How FTP failures are classified: the one place that turns libcurl result
// codes and FTP reply codes into the outcomes the crawler acts on.
//
// The crawler knows three kinds of failure. A transient one (time-out,
// connection aborted or reset, control connection dropped) breaks the crawl
// off with a resume point, because the directory's state on the server is
// unknown and an automatic retry may succeed. A refusal (the server said no,
// or anything else not known to be transient) means "not entered" for a
// directory change and "empty directory" for a listing. A cancellation is
// the caller's own doing (the session was closed, or the caller abandoned a
// listing); it must be treated like a stop request, never like a refusal,
// because a refusal of a listing empties the stored directory.
//
// A 4xx reply to a listing or a CWD is the server's "not now" (RFC 959:
// transient negative completion) and comes first, whatever libcurl made of
// it: 421 (closing) and 425 (no data connection) are transient; every
// other 4xx, 426 (transfer aborted, data cut short) and 450 included, is
// incomplete. Then, by libcurl result:
//   CURLE_OK with a 5xx final reply       refused
//   CURLE_OK                              ok
//   28 OPERATION_TIMEDOUT                 transient (also a 421 reply, which
//                                         libcurl reports as a time-out)
//   55 SEND_ERROR, 56 RECV_ERROR,         transient (reset, dropped or aborted
//   52 GOT_NOTHING, 18 PARTIAL_FILE       connection; libcurl cannot tell a
//                                         reset from an orderly close)
//   7 COULDNT_CONNECT, 12 FTP_ACCEPT_     transient: the data connection could
//   TIMEOUT, 13/14 FTP_WEIRD_PASV/227,    not be made, which says nothing about
//   15 FTP_CANT_GET_HOST, 30 PORT_FAILED  the directory; calling it a refusal
//                                         would sweep the stored directory
//   everything else (9 CWD refused,       refused
//   19 listing refused, 67 login denied,
//   8 weird reply, 6 unknown host, ...)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "catalog/ftp_site.h"

namespace orvane {

enum class FtpOutcome {
  kOk,
  kTransient,  // retry later; the crawl breaks off with a resume point
  kRefused,    // the server refused, or an error not known to be transient
  kCancelled,  // Close() was called, or the caller abandoned the listing
  // The listing did not end complete: the server said it cut it short, it
  // ended with 426 (transfer aborted), or a listing or CWD was refused for
  // now (4xx). What was handed out stands; nothing can be told about what
  // is missing from it, so nothing stored may be dropped for it.
  kIncomplete,
  // The server's certificate or host key is neither trusted by the system
  // nor the one pinned for the site. Nothing that names the user was sent.
  kUntrusted,
};

// Result of one session operation.
struct FtpResult {
  FtpOutcome outcome = FtpOutcome::kOk;
  int curlCode = 0;    // CURLcode of the transfer (0 when libcurl succeeded)
  long replyCode = 0;  // last final FTP reply code seen, 0 when none
  // Why it failed, at most kMaxErrorText bytes; may hold the server's own
  // reply text, whose bytes are passed on unchanged. Empty on kOk.
  std::string errorText;
  // For ListDirectory: the server accepted the change into the directory.
  // A refused directory change leaves it false (not entered); a refused
  // listing leaves it true (the directory counts as empty).
  bool entered = false;

  bool ok() const { return outcome == FtpOutcome::kOk; }
};

// Error texts are cut to this many bytes, the size of a message buffer of
// 256 bytes less its terminator.
inline constexpr std::size_t kMaxErrorText = 255;

// The outcome of a finished transfer from its libcurl result and the final
// reply to its listing or CWD (0 when none).
FtpOutcome ClassifyFtpFailure(int curlCode, long replyCode);

// The kind of a failed connection or listing, for the user's message:
// login refused (67, or a 530 reply), host not found (6), refused (7),
// timed out (28, 12), closed (52, 55, 56, 18, or a 421 reply), a refusal or
// odd reply of the server (other 4xx/5xx replies, 8, 9, 19), else other.
SiteStatus::Failure FailureOf(const FtpResult& result);

// Text for a failure: libcurl's own message (`curlMessage`, the error
// buffer, or the generic text of `curlCode` when that is empty), followed by
// the server's last reply when it was a refusal that the message does not
// already quote. Cut to kMaxErrorText bytes.
std::string FtpErrorText(int curlCode, std::string_view curlMessage, std::string_view lastReply);

}  // namespace orvane
