#include "update/ftp_error.h"

#include <curl/curl.h>

namespace orvane {

FtpOutcome ClassifyFtpFailure(int curlCode, long replyCode) {
  if (replyCode >= 400 && replyCode < 500) {
    // 421 closes the connection; 425 says the data connection could not be
    // made, which says nothing about the directory. Any other 4xx (libcurl
    // even reports a 450 to LIST as an empty listing) refuses for now.
    return replyCode == 421 || replyCode == 425 ? FtpOutcome::kTransient : FtpOutcome::kIncomplete;
  }
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
      return replyCode >= 500 ? FtpOutcome::kRefused : FtpOutcome::kOk;

    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return FtpOutcome::kTransient;

    // The transfer could not be set up. That says nothing about the
    // directory, so it must not count as a refused listing, which would
    // empty the stored directory; the bounded automatic retry copes with a
    // server whose passive mode is broken for good.
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_SET_TYPE:
      return FtpOutcome::kTransient;

    default:
      return FtpOutcome::kRefused;
  }
}

namespace {

bool IsRefusalReply(std::string_view reply) {
  return reply.size() >= 3 && (reply[0] == '4' || reply[0] == '5');
}

}  // namespace

std::string FtpErrorText(int curlCode, std::string_view curlMessage, std::string_view lastReply) {
  std::string text;
  if (!curlMessage.empty()) {
    text.assign(curlMessage);
  } else if (curlCode != CURLE_OK) {
    text = curl_easy_strerror(static_cast<CURLcode>(curlCode));
  }
  if (IsRefusalReply(lastReply) && text.find(lastReply) == std::string::npos) {
    text = text.empty() ? std::string(lastReply) : text + " (" + std::string(lastReply) + ")";
  }
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  return text;
}

SiteStatus::Failure FailureOf(const FtpResult& result) {
  using Failure = SiteStatus::Failure;
  if (result.ok()) return Failure::kNone;
  if (result.outcome == FtpOutcome::kUntrusted) return Failure::kUntrusted;
  if (result.curlCode == CURLE_LOGIN_DENIED || result.replyCode == 530) {
    return Failure::kLoginRefused;
  }
  if (result.replyCode == 421) return Failure::kClosed;
  switch (result.curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return Failure::kHostNotFound;
    case CURLE_COULDNT_CONNECT:
      return Failure::kRefused;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
      return Failure::kTimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return Failure::kClosed;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_RETR_FILE:
      return Failure::kServerError;
    default:
      break;
  }
  return result.replyCode >= 400 ? Failure::kServerError : Failure::kOther;
}

}  // namespace orvane
