#include "update/ftp_session.h"

#include <curl/curl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <tuple>

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

static_assert(CURL_ERROR_SIZE <= 256, "error buffer too small");

void InitLibcurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Every byte but the unreserved ones is escaped, so that libcurl's URL
// parser sees no "#", "?", "%", ";type=" or space and decodes each segment
// back to exactly the server's bytes.
void AppendEncoded(std::string& url, std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : segment) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    }
  }
}

// "%2F" makes the first segment absolute; with CURLFTPMETHOD_SINGLECWD
// libcurl then sends one "CWD /a/b" instead of one CWD per level.
std::string DirectoryUrl(const std::string& base, std::string_view path) {
  std::string url = base;
  url += "/%2F";
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      AppendEncoded(url, path.substr(start, end - start));
      url += '/';
    }
    start = end + 1;
  }
  if (url.back() != '/') url += '/';
  return url;
}

// A LIST argument is not just a path everywhere: servers glob it (vsftpd,
// pure-ftpd), take a leading "-" for ls options and expand "~". Such paths
// are listed after a CWD instead. MLSD takes a plain path (RFC 3659), so it
// never needs this.
bool IsPlainListArgument(std::string_view path) {
  return path.find_first_of(std::string_view("*?[]{}~\t\\")) == std::string_view::npos &&
         path.find("/-") == std::string_view::npos;
}

bool HasBlank(std::string_view path) { return path.find(' ') != std::string_view::npos; }

std::string_view LastSegment(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return path.substr(path.rfind('/') + 1);
}

// Bytes 0x01-0x1F: libcurl refuses them in a URL path, even percent-encoded
// (CURLE_URL_MALFORMAT), although servers allow them in names.
bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x01 && byte < 0x20;
  });
}

// A final reply to a listing that says the server sent only part of it
// (pure-ftpd: "226 Output truncated to 10000 matches").
bool SaysTruncated(std::string_view line) {
  std::string lower(line);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find("truncat") != std::string::npos;
}

// A success reply to a listing that says it failed (vsftpd, for a
// directory it may enter but not read: "226 Transfer done (but failed to
// open directory).").
bool SaysFailed(std::string_view line) {
  std::string lower(line);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find("failed") != std::string::npos;
}

// Entries of two listings of one directory, in any order.
bool SameEntries(std::vector<ListingEntry> a, std::vector<ListingEntry> b) {
  const auto key = [](const ListingEntry& e) {
    return std::tie(e.name, e.isDirectory, e.size, e.isLink);
  };
  const auto byKey = [&](const ListingEntry& x, const ListingEntry& y) { return key(x) < key(y); };
  std::sort(a.begin(), a.end(), byKey);
  std::sort(b.begin(), b.end(), byKey);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const ListingEntry& x, const ListingEntry& y) { return key(x) == key(y); });
}

bool HasFloor(const FtpTimeouts& timeouts) {
  return timeouts.lowSpeedBytes > 0 && timeouts.lowSpeedWindow.count() > 0;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsUsableHost(std::string_view host) {
  return !host.empty() &&
         host.find_first_of(std::string_view("/?#@[]\\ \t\r\n\0", 13)) == std::string_view::npos;
}

// Whether libcurl waits on any socket. curl_multi_fdset leaves out sockets
// at or above FD_SETSIZE; for those this says no, which costs a few early
// wake-ups (curl_multi_poll itself waits on every socket), never a wait.
bool OffersSocket(CURLM* multi) {
  fd_set read{}, write{}, error{};
  FD_ZERO(&read);
  FD_ZERO(&write);
  FD_ZERO(&error);
  int highest = -1;
  return curl_multi_fdset(multi, &read, &write, &error, &highest) == CURLM_OK && highest >= 0;
}

bool IsConnected(int socket) {
  sockaddr_storage peer{};
  socklen_t length = sizeof(peer);
  return ::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

std::string_view StripLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// A final reply line is "ddd text" (or just "ddd"); "ddd-" opens a
// multi-line reply whose inner lines are anything else.
long FinalReplyCode(std::string_view line) {
  if (line.size() < 3) return 0;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
  }
  if (line.size() > 3 && line[3] != ' ') return 0;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

std::string UpperVerb(std::string_view line) {
  const std::size_t space = line.find(' ');
  std::string verb(line.substr(0, space));
  for (char& c : verb) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return verb;
}

bool IsListingVerb(std::string_view verb) {
  return verb == "LIST" || verb == "MLSD" || verb == "NLST";
}

// RFC 3659: MLSD comes with MLST, which FEAT announces as "MLST facts".
bool AnnouncesMlst(std::string_view features) {
  std::size_t start = 0;
  while (start < features.size()) {
    std::size_t end = features.find('\n', start);
    if (end == std::string_view::npos) end = features.size();
    const std::string verb = UpperVerb(features.substr(start, end - start));
    if (verb == "MLST" || verb == "MLSD") return true;
    start = end + 1;
  }
  return false;
}

FtpResult Failure(FtpOutcome outcome, int curlCode, std::string text) {
  FtpResult result;
  result.outcome = outcome;
  result.curlCode = curlCode;
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  result.errorText = std::move(text);
  return result;
}

void ForEachLine(const char* data, std::size_t size, auto&& onLine) {
  std::string_view rest(data, size);
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    end = end == std::string_view::npos ? rest.size() : end + 1;
    onLine(StripLineEnd(rest.substr(0, end)));
    rest.remove_prefix(end);
  }
}

}  // namespace

// libcurl calls plain C functions; these forward to the session.
struct CurlCallbacks {
  // The debug stream is where the session watches the conversation: the
  // commands sent (HEADER_OUT), the replies (HEADER_IN) and the listing
  // bytes as they came off the data connection (DATA_IN). The write
  // callback gets the same bytes after libcurl's ASCII-mode conversion,
  // which turns a lone CR inside a name into a line end and so would split
  // one entry into two.
  static int Debug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) {
    auto* session = static_cast<CFtpSession*>(self);
    if (type == CURLINFO_HEADER_IN || type == CURLINFO_DATA_IN) session->received_ += size;
    switch (type) {
      case CURLINFO_HEADER_OUT:
        ForEachLine(data, size, [session](std::string_view line) { session->OnCommand(line); });
        break;
      case CURLINFO_HEADER_IN:
        if (session->statReply_.active && session->lastCommand_ == "STAT") {
          session->OnStatReply(std::string_view(data, size));
        }
        ForEachLine(data, size, [session](std::string_view line) { session->OnReplyLine(line); });
        break;
      case CURLINFO_DATA_IN:
        session->OnData(data, size);
        break;
      default:
        break;
    }
    return 0;
  }

  // The bytes were already taken from the debug stream. Pausing is how an
  // abandoned listing stops libcurl from reading further.
  static std::size_t Write(char*, std::size_t size, std::size_t count, void* self) {
    return static_cast<CFtpSession*>(self)->abandoned_ ? CURL_WRITEFUNC_PAUSE : size * count;
  }

  static curl_socket_t OpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    const int socket = static_cast<CFtpSession*>(self)->OpenSocket(
        address->family, address->socktype, address->protocol);
    return socket < 0 ? CURL_SOCKET_BAD : socket;
  }

  static int CloseSocket(void* self, curl_socket_t socket) {
    static_cast<CFtpSession*>(self)->CloseSocket(socket);
    return 0;
  }

  // Every TLS connection, control or data, gets the trust check.
  static CURLcode SslContext(CURL*, void* sslContext, void* self) {
    CTlsTrust* trust = static_cast<CFtpSession*>(self)->trust_.get();
    return trust != nullptr && trust->Install(sslContext) ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
  }
};

CFtpSession::CFtpSession() = default;

CFtpSession::~CFtpSession() { Close(); }

struct CFtpSession::EndGuard {
  CFtpSession* session;
  ~EndGuard() { session->End(); }
};

FtpResult CFtpSession::Open(const FtpLogin& login, const FtpTimeouts& timeouts) {
  InitLibcurlOnce();
  if (!IsUsableHost(login.host)) {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT, "Invalid host name");
  }
  // USER and PASS carry these as they are: a line break would end the
  // command and start one of the caller's choosing.
  if (HasLineBreakOrNul(login.user) || HasLineBreakOrNul(login.password)) {
    return Failure(FtpOutcome::kRefused, CURLE_LOGIN_DENIED,
                   "The login contains a line break or a NUL byte");
  }
  if (!login.startDir.empty() &&
      (login.startDir.front() != '/' || HasLineBreakOrNul(login.startDir))) {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT,
                   "The start directory is not an absolute path");
  }
  {
    std::lock_guard lock(mutex_);
    if (closed_)
      return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
    if (opened_) return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "Session already open");
    opened_ = true;
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
      if (easy_ != nullptr) curl_easy_cleanup(easy_);
      if (multi_ != nullptr) curl_multi_cleanup(multi_);
      easy_ = multi_ = nullptr;
      return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "Could not create the FTP session");
    }
    lifetime_ = Lifetime::kBusy;
  }
  const EndGuard endGuard{this};

  timeouts_ = timeouts;
  std::string host = login.host;
  if (host.find(':') != std::string::npos) {
    // An IPv6 literal; a zone index ("%eth0") is written "%25eth0" in a URL.
    if (const std::size_t zone = host.find('%'); zone != std::string::npos) {
      host.insert(zone + 1, "25");
    }
    host = "[" + host + "]";
  }
  const bool implicitTls = login.protocol == SiteProtocol::kFtps;
  baseUrl_ = (implicitTls ? "ftps://" : "ftp://") + host + ":" + std::to_string(login.port);
  startDir_ = login.startDir;
  while (!startDir_.empty() && startDir_.back() == '/') startDir_.pop_back();

  CURL* easy = easy_;
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, implicitTls ? "ftps" : "ftp");
  if (UsesTls(login.protocol)) {
    trust_ = std::make_unique<CTlsTrust>(login.host, login.pinnedKey);
    // Required on the control connection and every data connection: a
    // server that refuses AUTH TLS ends the login before USER.
    curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(easy, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    // The trust check (CTlsTrust, installed on each connection's context)
    // replaces libcurl's, which knows no pinned key beside the store.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    // Data connections resume the control connection's session from this
    // cache (on by default; servers may insist on it).
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    if (curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlCallbacks::SslContext) != CURLE_OK) {
      return Failure(FtpOutcome::kRefused, CURLE_NOT_BUILT_IN,
                     "This libcurl cannot check certificates (it is not built with OpenSSL)");
    }
  }
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  if (!login.user.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, login.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, login.password.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 1L);
  // Servers behind NAT announce their private address in PASV replies.
  curl_easy_setopt(easy, CURLOPT_FTP_SKIP_PASV_IP, 1L);
  // The session's own clock (Perform) enforces the time-outs from the last
  // sign of life. libcurl's limits are only a backstop set beyond them:
  // its connect time-out also covers the greeting and login replies, and
  // its response time-out counts whole seconds.
  const auto receive = std::max(timeouts.controlReceive, timeouts.dataReceive);
  curl_easy_setopt(
      easy, CURLOPT_CONNECTTIMEOUT_MS,
      static_cast<long>((timeouts.connect + 4 * receive + milliseconds(1000)).count()));
  curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   static_cast<long>(timeouts.controlReceive.count() / 1000 + 2));
  // Perform also holds every call to the floor on progress; libcurl's own
  // low-speed check, which sees only listing data, is a looser backstop.
  if (HasFloor(timeouts)) {
    const long lowSpeedSeconds = static_cast<long>(timeouts.lowSpeedWindow.count() / 1000 + 2);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT,
                     std::max(1L, static_cast<long>(timeouts.lowSpeedBytes) / lowSpeedSeconds / 2));
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_.data());
  curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CurlCallbacks::Debug);
  curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::Write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::OpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlCallbacks::CloseSocket);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 1L);

  // A body-less request for the root logs in and sends nothing else but the
  // quoted FEAT ("*": a server without FEAT is no failure). The connection
  // then stays in the multi handle's cache for the listings.
  curl_slist* quote = curl_slist_append(nullptr, "*FEAT");
  // A start directory that cannot be entered fails the login, rather than
  // the crawl finding its top directory "not entered" as if it were one
  // more unreadable directory.
  const std::string enterStart = "*CWD " + startDir_;
  if (!startDir_.empty()) quote = curl_slist_append(quote, enterStart.c_str());
  curl_easy_setopt(easy, CURLOPT_QUOTE, quote);
  FtpResult result = Perform(baseUrl_ + "/", Request::kLogin);
  curl_easy_setopt(easy, CURLOPT_QUOTE, nullptr);
  curl_slist_free_all(quote);
  if (result.curlCode == CURLE_OK && !closed_ && !startDir_.empty() && cwdReplyCode_ / 100 != 2) {
    const long code = cwdReplyCode_ != 0 ? cwdReplyCode_ : 550;
    result =
        Failure(code / 100 == 4 ? FtpOutcome::kTransient : FtpOutcome::kRefused, CURLE_QUOTE_ERROR,
                "The start directory " + startDir_ + " cannot be entered: " + cwdReply_);
    result.replyCode = code;
  }

  if (trust_ != nullptr) {
    peer_ = trust_->peer();
    if (result.curlCode == CURLE_USE_SSL_FAILED && !closed_) {
      // libcurl stops right after the refusal: USER was never sent.
      result.outcome = FtpOutcome::kRefused;
      result.errorText =
          "The server refused AUTH TLS; the site is set to FTP over TLS, which "
          "is never given up for plain FTP";
      if (!lastReply_.empty()) result.errorText += " (" + lastReply_ + ")";
      if (result.errorText.size() > kMaxErrorText) result.errorText.resize(kMaxErrorText);
    }
  }
  connected_ = result.ok();
  result.entered = false;
  mlsd_ = AnnouncesMlst(features_);
  if (mlsd_) curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "MLSD");
  return result;
}

FtpResult CFtpSession::ListDirectory(std::string_view absolutePath, const FtpEntrySink& onEntries) {
  // libcurl would send these bytes on and fail only after the damage (a
  // CR/LF ends the command early and smuggles in another one).
  if (HasLineBreakOrNul(absolutePath)) {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT,
                   "The path contains a line break or a NUL byte");
  }
  if (absolutePath.empty() || absolutePath.front() != '/') {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT, "The path is not absolute");
  }
  if (!Begin()) return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
  const EndGuard endGuard{this};
  if (!connected_) {
    return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "The session is not connected");
  }

  const std::string serverPath = ServerPath(absolutePath);
  absolutePath = serverPath;
  sink_ = &onEntries;
  batchSize_ = 0;
  splitter_.Reset(mlsd_ ? ListingFormat::kMlsd : ListingFormat::kList);
  target_ = LastSegment(absolutePath);
  if (HasControlByte(absolutePath)) {
    FtpResult result = ListAfterQuotedCwd(absolutePath);
    sink_ = nullptr;
    return result;
  }
  if (!mlsd_ && statForm_ != StatForm::kUnusable && IsPlainListArgument(absolutePath) &&
      !(HasBlank(absolutePath) && statBlanks_ == StatForm::kUnusable)) {
    if (std::optional<FtpResult> listed = ListByStat(absolutePath, onEntries)) {
      sink_ = nullptr;
      return *std::move(listed);
    }
  }
  FtpResult result = ListOverDataConnection(absolutePath);
  sink_ = nullptr;
  return result;
}

FtpResult CFtpSession::ListOverDataConnection(std::string_view absolutePath, bool enterFirst) {
  batchSize_ = 0;
  splitter_.Reset(mlsd_ ? ListingFormat::kMlsd : ListingFormat::kList);
  const std::string url = DirectoryUrl(baseUrl_, absolutePath);
  const bool byPath = !enterFirst && (mlsd_ || IsPlainListArgument(absolutePath));
  unconfirmed_ = byPath;
  FtpResult result = Perform(url, byPath ? Request::kListByPath : Request::kCwdAndList);
  if (byPath && result.outcome == FtpOutcome::kRefused && listSent_) {
    if (!mlsd_ && unconfirmed_) {
      // Servers parse a LIST argument in their own ways (some split it at
      // blanks), so a refusal may be the argument's; inside the directory
      // a plain LIST tells, and a refused CWD means "not entered".
      unconfirmed_ = false;
      batchSize_ = 0;
      splitter_.Reset(ListingFormat::kList);
      result = Perform(url, Request::kCwdAndList);
    } else {
      // Whether the server refused the directory or only its listing
      // decides between "not entered" and "empty"; the CWD tells.
      FtpResult changed = Perform(url, Request::kCwd);
      if (changed.ok()) {
        result.entered = true;
      } else {
        result = std::move(changed);
      }
    }
  }
  FinishListing(result);
  if (result.ok()) {
    if (unconfirmed_ && !abandoned_) {
      // Nothing in the listing shows that the path is a directory: some
      // servers list a missing path as empty and a file as itself. Only the
      // directory change can tell, and a refused one means "not entered".
      FtpResult changed = Perform(url, Request::kCwd);
      if (changed.ok() && !mlsd_ && batchSize_ == 1 && batch_[0].isDirectory && !batch_[0].isLink) {
        // A directory that can be entered but not read is listed by its own
        // line too (vsftpd). Listed from inside, with no argument, it shows
        // nothing ("226 ... failed to open directory"), while a directory
        // that holds one subdirectory of its own name shows that again. An
        // MLSD line names the directory itself only as type=cdir.
        batchSize_ = 0;
        splitter_.Reset(ListingFormat::kList);
        changed = Perform(url, Request::kCwdAndList);
        FinishListing(changed);
        if (changed.ok() && unconfirmed_ && batchSize_ == 0) {
          changed = Failure(FtpOutcome::kIncomplete, CURLE_OK, "The directory cannot be read");
        }
        if (changed.outcome == FtpOutcome::kIncomplete) {
          // Whatever the server said, the directory was entered.
          batchSize_ = 0;
          changed.entered = true;
        }
      }
      if (changed.ok()) {
        unconfirmed_ = false;
        Deliver();
      } else {
        result = changed;
      }
    }
  }
  if (abandoned_) {
    const bool entered = result.entered;
    result = Failure(FtpOutcome::kCancelled, CURLE_OK, "Listing abandoned");
    result.entered = entered;
  }
  unconfirmed_ = false;
  return result;
}

std::optional<FtpResult> CFtpSession::ListByStat(std::string_view absolutePath,
                                                 const FtpEntrySink& onEntries) {
  batchSize_ = 0;
  splitter_.Reset(ListingFormat::kList);
  unconfirmed_ = false;
  // "*": a refusal is read here (it may be the path's or the command's).
  const std::string command = "*STAT " + std::string(absolutePath);
  curl_slist* quote = curl_slist_append(nullptr, command.c_str());
  // The PWD after it proves that the STAT reply was read whole: its reply
  // names a path, and no name can hold the "/" of one, so no name in the
  // listing can stand in for it. A name that held a line feed and a line
  // like the STAT reply's last would end that reply early for libcurl; what
  // was left of it would then be read as the reply to PWD.
  quote = curl_slist_append(quote, "PWD");
  curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
  statReply_ = StatReply{};
  statReply_.active = true;
  FtpResult result = Perform(baseUrl_ + "/", Request::kQuote);
  statReply_.active = false;
  curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
  curl_slist_free_all(quote);
  if (closed_) return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
  const StatReply& reply = statReply_;
  if (!result.ok()) {
    // Cut off, timed out or held to the floor: the data connection lists
    // this directory and the rest of the session. A transfer that did not
    // end has taken its connection with it.
    statForm_ = StatForm::kUnusable;
    return std::nullopt;
  }
  splitter_.Finish([this](const ListingEntry& entry) { Collect(entry); });
  const SkippedNames& skipped = splitter_.skippedNames();
  if (reply.outOfStep || !reply.inStep || skipped.lineBreak || skipped.any ||
      (reply.ended && reply.multiLine && !statEnd_.empty() && reply.end != statEnd_) ||
      ControlBytesWaiting()) {
    // A name that held a line feed reached the control connection as it
    // is, or the reply ended in an unexpected way: part of it may still be
    // on its way and would be read as the reply to the next command. The
    // connection is dropped (the next call logs in again) and this server's
    // listings come over data connections from now on.
    statForm_ = StatForm::kUnusable;
    DropControlConnection();
    return std::nullopt;
  }
  const long code = reply.code;
  const bool isListing = reply.multiLine && reply.ended && code >= 211 && code <= 213 &&
                         !SaysTruncated(reply.end) && !SaysFailed(reply.end);
  if (!isListing) {
    // 500-504: no STAT with an argument here; a 2xx that is no multi-line
    // reply is no listing. Other refusals may be the path's.
    if (code / 100 == 2 || (code >= 500 && code <= 504) || code == 202) {
      statForm_ = StatForm::kUnusable;
    }
    return std::nullopt;
  }
  // Lines no entry can be made of, or nothing only a directory could show
  // (a missing path and a file are listed that way too): the data
  // connection's listing and its checks decide.
  const bool conclusive = splitter_.skippedLines() == 0 && batchSize_ > 0 &&
                          !(batchSize_ == 1 && batch_[0].name == target_);
  const bool blankUntried = HasBlank(absolutePath) && statBlanks_ == StatForm::kUntried;
  if (!conclusive || statForm_ == StatForm::kUntried || blankUntried) {
    // The control connection's form is used for the session only once it
    // has listed exactly what the data connection does, and no longer once
    // it has not. Paths with blanks are tried on their own, against a
    // listing inside the directory: a server may split the argument.
    std::vector<ListingEntry> viaStat(batch_.begin(),
                                      batch_.begin() + static_cast<std::ptrdiff_t>(batchSize_));
    const std::string end = reply.end;
    const bool comparable = splitter_.skippedLines() == 0;
    std::vector<ListingEntry> viaList;
    const FtpEntrySink recording = [&](std::span<const ListingEntry> entries) {
      viaList.insert(viaList.end(), entries.begin(), entries.end());
      return onEntries(entries);
    };
    sink_ = &recording;
    FtpResult listed = ListOverDataConnection(absolutePath, blankUntried);
    sink_ = &onEntries;
    if (listed.ok() && comparable && splitter_.skippedLines() == 0) {
      if (!SameEntries(std::move(viaStat), std::move(viaList))) {
        (blankUntried ? statBlanks_ : statForm_) = StatForm::kUnusable;
      } else if (conclusive) {
        statForm_ = StatForm::kUsed;
        statEnd_ = end;
        if (blankUntried) statBlanks_ = StatForm::kUsed;
      }
    }
    return listed;
  }
  Deliver();
  if (abandoned_) {
    result = Failure(FtpOutcome::kCancelled, CURLE_OK, "Listing abandoned");
  } else {
    result.replyCode = code;
  }
  result.entered = true;
  return result;
}

void CFtpSession::OnStatReply(std::string_view chunk) {
  statReply_.bytes += chunk.size();
  if (statReply_.bytes > kMaxStatReplyBytes) {
    // Too much to hold back until the reply is judged; the data connection
    // streams it instead.
    statReply_.outOfStep = true;
    abandoned_ = true;
    return;
  }
  while (!chunk.empty()) {
    const std::size_t end = chunk.find('\n');
    const std::string_view raw =
        chunk.substr(0, end == std::string_view::npos ? chunk.size() : end + 1);
    chunk.remove_prefix(raw.size());
    // Every line of a reply ends in CR LF; a line that ends in a lone LF
    // (or in nothing) is the first part of a name that held a line feed.
    const bool crlf = raw.ends_with("\r\n");
    const std::string_view line = StripLineEnd(raw);
    if (statReply_.ended) {
      statReply_.outOfStep = true;
    } else if (statReply_.code == 0) {
      // The first line: "213-..." opens a listing, "ddd ..." is all there is.
      const long code = FinalReplyCode(line);
      if (code != 0) {
        statReply_.code = code;
        statReply_.ended = true;
        statReply_.end.assign(line);
      } else if (line.size() >= 4 && line[3] == '-' && FinalReplyCode(line.substr(0, 3)) != 0) {
        statReply_.code = FinalReplyCode(line.substr(0, 3));
        statReply_.multiLine = true;
      } else {
        statReply_.outOfStep = true;
      }
      if (!crlf) statReply_.outOfStep = true;
    } else if (const long code = FinalReplyCode(line); code != 0) {
      // libcurl ends the reply at any "ddd " line; RFC 959 ends it only
      // with the opening code. Anything else is a name's line.
      statReply_.ended = true;
      statReply_.end.assign(line);
      if (code != statReply_.code || !crlf) statReply_.outOfStep = true;
    } else if (!crlf) {
      statReply_.outOfStep = true;
    } else {
      splitter_.Feed(raw.data(), raw.size(), [this](const ListingEntry& entry) { Collect(entry); });
    }
  }
}

bool CFtpSession::ControlBytesWaiting() {
  // After a whole reply the server has nothing more to say until the next
  // command; bytes already waiting belong to a reply that ended early.
  std::lock_guard lock(mutex_);
  for (const int socket : sockets_) {
    pollfd waiting{socket, POLLIN, 0};
    if (::poll(&waiting, 1, 0) > 0) return true;
  }
  return false;
}

void CFtpSession::DropControlConnection() {
  // libcurl finds the connection dead on its next use and opens a new one.
  std::lock_guard lock(mutex_);
  for (const int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
}

void CFtpSession::FinishListing(const FtpResult& result) {
  // A last line without its line end counts only when the server said the
  // data was all sent: after a failure it may be the cut-off half of a name
  // (and then the entry held back before it goes too, which costs nothing,
  // as such a listing removes nothing).
  if (result.ok() ||
      (result.outcome == FtpOutcome::kIncomplete && (listReplyCode_ / 100 == 2 || dataEndsLine_))) {
    splitter_.Finish([this](const ListingEntry& entry) { Collect(entry); });
  }
  Deliver();
}

FtpResult CFtpSession::ListAfterQuotedCwd(std::string_view absolutePath) {
  // The path cannot go into a URL, so the CWD goes as a quoted command
  // ("*": its refusal is read here instead of failing the transfer), sent
  // last, after any CWD of libcurl's own; the listing that follows is of
  // the current directory, with no argument.
  unconfirmed_ = false;
  const std::string command = "*CWD " + std::string(absolutePath);
  curl_slist* quote = curl_slist_append(nullptr, command.c_str());
  curl_easy_setopt(easy_, CURLOPT_PREQUOTE, quote);
  FtpResult result = Perform(baseUrl_ + "/", Request::kQuotedCwd);
  curl_easy_setopt(easy_, CURLOPT_PREQUOTE, nullptr);
  curl_slist_free_all(quote);
  if (!result.ok()) return result;
  if (lastCwd_ != std::string_view(command).substr(1)) {
    // The reply read below would be to a CWD of libcurl's own.
    return Failure(FtpOutcome::kTransient, CURLE_OK, "The directory change was not sent");
  }
  if (cwdReplyCode_ / 100 != 2) {
    // No reply at all cannot happen without a failure above; be safe.
    const long code = cwdReplyCode_ != 0 ? cwdReplyCode_ : 550;
    result =
        Failure(ClassifyFtpFailure(CURLE_REMOTE_ACCESS_DENIED, code), CURLE_REMOTE_ACCESS_DENIED,
                FtpErrorText(CURLE_REMOTE_ACCESS_DENIED, "", cwdReply_));
    result.replyCode = code;
    result.entered = false;
    return result;
  }
  result = Perform(baseUrl_ + "/", Request::kListHere);
  if (movedAway_) {
    // A new login or a CWD of libcurl's own came between (OnCommand then
    // abandoned the transfer): the listing would have been of another
    // directory. Nothing of it was handed out.
    return Failure(FtpOutcome::kTransient, CURLE_OK,
                   "The connection left the directory before it was listed");
  }
  FinishListing(result);
  if (abandoned_) {
    result = Failure(FtpOutcome::kCancelled, CURLE_OK, "Listing abandoned");
    result.entered = true;
  }
  return result;
}

FtpResult CFtpSession::ListRaw(std::string_view absolutePath, std::string_view command,
                               const FtpDataSink& onData) {
  if (HasLineBreakOrNul(absolutePath) || HasControlByte(absolutePath) ||
      HasLineBreakOrNul(command) || absolutePath.empty() || absolutePath.front() != '/') {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT, "Not a path for a raw listing");
  }
  if (!Begin()) return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
  const EndGuard endGuard{this};
  if (!connected_) {
    return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "The session is not connected");
  }
  const std::string serverPath = ServerPath(absolutePath);
  absolutePath = serverPath;
  sink_ = nullptr;
  rawSink_ = &onData;
  unconfirmed_ = false;
  batchSize_ = 0;
  // With the CWD the command goes without an argument, as given.
  const std::string request(command);
  curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request.c_str());
  FtpResult result = Perform(DirectoryUrl(baseUrl_, absolutePath), Request::kCwdAndList);
  curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, mlsd_ ? "MLSD" : nullptr);
  rawSink_ = nullptr;
  if (abandoned_) {
    const bool entered = result.entered;
    result = Failure(FtpOutcome::kCancelled, CURLE_OK, "Listing abandoned");
    result.entered = entered;
  }
  return result;
}

FtpResult CFtpSession::PathFacts(std::string_view absolutePath, std::string& facts) {
  facts.clear();
  if (HasLineBreakOrNul(absolutePath) || absolutePath.empty() || absolutePath.front() != '/') {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT, "Not an absolute path");
  }
  if (!Begin()) return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
  const EndGuard endGuard{this};
  if (!connected_ || !mlsd_) {
    return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "No MLST on this session");
  }
  // "*": a refusal is no failure of the transfer; the facts stay empty.
  const std::string command = "*MLST " + ServerPath(absolutePath);
  curl_slist* quote = curl_slist_append(nullptr, command.c_str());
  curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
  mlstFacts_ = &facts;
  FtpResult result = Perform(baseUrl_ + "/", Request::kQuote);
  mlstFacts_ = nullptr;
  curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
  curl_slist_free_all(quote);
  return result;
}

FtpResult CFtpSession::Probe() {
  if (!Begin()) return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
  const EndGuard endGuard{this};
  if (!connected_) {
    return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "The session is not connected");
  }
  curl_slist* quote = curl_slist_append(nullptr, "NOOP");
  curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
  FtpResult result = Perform(baseUrl_ + "/", Request::kQuote);
  curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
  curl_slist_free_all(quote);
  return result;
}

void CFtpSession::Close() {
  std::unique_lock lock(mutex_);
  closed_ = true;
  // Shutting the sockets down makes every wait on them end at once, on
  // whichever thread, and keeps the connection cache from trying a QUIT.
  for (const int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
  if (lifetime_ == Lifetime::kBusy) {
    // The owner's call notices closed_ and releases the handles itself.
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
    return;
  }
  freed_.wait(lock, [this] { return lifetime_ != Lifetime::kFreeing; });
  ReleaseHandles(lock);
}

bool CFtpSession::Begin() {
  std::lock_guard lock(mutex_);
  if (closed_ || easy_ == nullptr) return false;
  lifetime_ = Lifetime::kBusy;
  return true;
}

void CFtpSession::End() {
  std::unique_lock lock(mutex_);
  lifetime_ = Lifetime::kIdle;
  if (closed_) ReleaseHandles(lock);
}

void CFtpSession::ReleaseHandles(std::unique_lock<std::mutex>& lock) {
  if (easy_ == nullptr && multi_ == nullptr) return;
  CURL* easy = easy_;
  CURLM* multi = multi_;
  easy_ = multi_ = nullptr;
  lifetime_ = Lifetime::kFreeing;
  for (const int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
  // libcurl closes the cached connection here, calling CloseSocket, which
  // takes the lock.
  lock.unlock();
  if (multi != nullptr) curl_multi_cleanup(multi);
  if (easy != nullptr) curl_easy_cleanup(easy);
  lock.lock();
  lifetime_ = Lifetime::kIdle;
  freed_.notify_all();
}

int CFtpSession::OpenSocket(int family, int type, int protocol) {
  const int socket = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (socket < 0) return -1;
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      ::close(socket);
      return -1;
    }
    sockets_.push_back(socket);
  }
  connecting_.push_back(socket);
  Touch(Phase::kConnecting);
  return socket;
}

void CFtpSession::CloseSocket(int socket) {
  // Under the lock, so that Close() never shuts down a descriptor number
  // that has meanwhile been closed and reused elsewhere.
  std::lock_guard lock(mutex_);
  std::erase(sockets_, socket);
  std::erase(connecting_, socket);
  ::close(socket);
}

void CFtpSession::Touch(Phase phase) {
  phase_ = phase;
  lastSignOfLife_ = Clock::now();
}

milliseconds CFtpSession::PhaseLimit() const {
  switch (phase_) {
    case Phase::kConnecting:
      return timeouts_.connect;
    case Phase::kData:
      return timeouts_.dataReceive;
    case Phase::kAwaitReply:
      break;
  }
  return timeouts_.controlReceive;
}

void CFtpSession::OnCommand(std::string_view line) {
  ++commandsSent_;
  lastCommand_ = UpperVerb(line);
  if (lastCommand_ == "CWD") lastCwd_.assign(line);
  if (IsListingVerb(lastCommand_)) listSent_ = true;
  if (request_ == Request::kListHere && (lastCommand_ == "CWD" || lastCommand_ == "USER")) {
    movedAway_ = true;
    abandoned_ = true;
  }
  Touch(Phase::kAwaitReply);
}

void CFtpSession::OnReplyLine(std::string_view line) {
  const long code = FinalReplyCode(line);
  if (code == 0) {
    // RFC 3659: the one fact line of an MLST reply starts with a space.
    if (lastCommand_ == "MLST" && mlstFacts_ != nullptr && !line.empty() && line.front() == ' ') {
      mlstFacts_->assign(line.substr(1));
    }
    // "226-Output truncated ..." may open a multi-line final reply.
    if (IsListingVerb(lastCommand_) && SaysTruncated(line)) truncated_ = true;
    // RFC 2389: each feature line of the FEAT reply starts with a space.
    if (lastCommand_ == "FEAT" && !line.empty() && line.front() == ' ') {
      std::string_view feature = line;
      while (!feature.empty() && feature.front() == ' ') feature.remove_prefix(1);
      features_.append(feature);
      features_ += '\n';
    }
    Touch(phase_);
    return;
  }
  lastReplyCode_ = code;
  lastReply_.assign(line);
  if (statReply_.active && lastCommand_ == "PWD") {
    statReply_.inStep = code == 257 && line.find("\"/") != std::string_view::npos;
  }
  Phase next = Phase::kAwaitReply;
  if (lastCommand_ == "CWD") {
    // The reply to the CWD sent last (lastCwd_).
    cwdReplyCode_ = code;
    cwdReply_.assign(line);
  }
  if (IsListingVerb(lastCommand_)) {
    if (code / 100 == 1) {
      next = Phase::kData;
    } else {
      listReplyCode_ = code;
      listReply_.assign(line);
      if (code / 100 == 2 && SaysTruncated(line)) truncated_ = true;
      if (code / 100 == 2 && SaysFailed(line)) unreadable_ = true;
    }
  }
  Touch(next);
}

void CFtpSession::OnData(const char* data, std::size_t size) {
  lastSignOfLife_ = Clock::now();
  if (size > 0) dataEndsLine_ = data[size - 1] == '\n';
  if (rawSink_ != nullptr) {
    if (!abandoned_ && !(*rawSink_)(std::string_view(data, size))) abandoned_ = true;
    return;
  }
  if (sink_ == nullptr || abandoned_) return;
  splitter_.Feed(data, size, [this](const ListingEntry& entry) { Collect(entry); });
  Deliver();
}

void CFtpSession::Collect(const ListingEntry& entry) {
  // Assigning into kept elements reuses their string buffers.
  if (batchSize_ < batch_.size()) {
    batch_[batchSize_] = entry;
  } else {
    batch_.push_back(entry);
  }
  ++batchSize_;
}

void CFtpSession::Deliver() {
  if (batchSize_ == 0 || sink_ == nullptr || abandoned_) return;
  if (unconfirmed_) {
    // A lone entry named like the listed path may be that path itself: a
    // file, or a directory the server could not read (vsftpd then lists the
    // directory's own line). ListDirectory confirms it with a CWD first.
    if (batchSize_ == 1 && batch_[0].name == target_) return;
    unconfirmed_ = false;
  }
  if (!(*sink_)(std::span<const ListingEntry>(batch_.data(), batchSize_))) abandoned_ = true;
  batchSize_ = 0;
}

FtpResult CFtpSession::Perform(const std::string& url, Request request) {
  CURL* easy = easy_;
  CURLM* multi = multi_;
  const bool listing = request == Request::kListByPath || request == Request::kCwdAndList ||
                       request == Request::kListHere;
  // Without a CWD libcurl appends the absolute path, decoded from the URL,
  // to the listing command ("MLSD /a/b"); for the URL of the login
  // directory it sends the bare command. Otherwise it sends one "CWD /a/b",
  // unless the connection is known to be there already.
  const bool noCwd = request == Request::kListByPath || request == Request::kQuote ||
                     request == Request::kQuotedCwd || request == Request::kListHere;
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD,
                   static_cast<long>(noCwd ? CURLFTPMETHOD_NOCWD : CURLFTPMETHOD_SINGLECWD));
  // A body-less request for a directory sends its quoted commands and its
  // CWD, and nothing else.
  curl_easy_setopt(easy, CURLOPT_NOBODY, listing ? 0L : 1L);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  errorBuffer_[0] = '\0';
  lastReply_.clear();
  lastReplyCode_ = 0;
  listReplyCode_ = 0;
  listReply_.clear();
  cwdReplyCode_ = 0;
  cwdReply_.clear();
  lastCwd_.clear();
  truncated_ = false;
  unreadable_ = false;
  dataEndsLine_ = true;
  movedAway_ = false;
  request_ = request;
  listSent_ = false;
  abandoned_ = false;
  lastCommand_.clear();
  connecting_.clear();
  Touch(Phase::kAwaitReply);

  const CURLMcode added = curl_multi_add_handle(multi, easy);
  if (added != CURLM_OK) {
    return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, curl_multi_strerror(added));
  }
  enum class Stop { kNone, kDone, kClosed, kAbandoned, kTimedOut, kTooSlow, kTooLong, kMultiError };
  Stop stop = Stop::kNone;
  CURLcode code = CURLE_OK;
  CURLMcode multiCode = CURLM_OK;
  milliseconds limit{};
  const auto started = Clock::now();
  // The floor on progress, counted in whole windows from the start.
  auto windowStart = started;
  std::uint64_t windowBytes = received_;
  bool dataWindow = false;
  int quietRounds = 0;  // waits in a row in which libcurl offered no socket
  while (stop == Stop::kNone) {
    int running = 0;
    multiCode = curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        code = message->data.result;
        stop = Stop::kDone;
      }
    }
    if (stop != Stop::kNone) break;
    if (multiCode != CURLM_OK) {
      stop = Stop::kMultiError;
    } else if (closed_) {
      stop = Stop::kClosed;
    } else if (abandoned_) {
      stop = Stop::kAbandoned;
    } else {
      const auto now = Clock::now();
      // libcurl says nothing when the TCP handshake completes; the socket
      // does.
      if (phase_ == Phase::kConnecting &&
          std::any_of(connecting_.begin(), connecting_.end(), IsConnected)) {
        connecting_.clear();
        Touch(Phase::kAwaitReply);
      }
      limit = PhaseLimit();
      const auto idle = std::chrono::duration_cast<milliseconds>(now - lastSignOfLife_);
      if (phase_ == Phase::kData && !dataWindow) {
        // The listing data gets a window of its own, so that the replies
        // before it cannot make up for data that does not come.
        dataWindow = true;
        windowStart = now;
        windowBytes = received_;
      }
      if (HasFloor(timeouts_) && now - windowStart >= timeouts_.lowSpeedWindow) {
        if (received_ - windowBytes < timeouts_.lowSpeedBytes) stop = Stop::kTooSlow;
        windowStart = now;
        windowBytes = received_;
      }
      if (stop == Stop::kNone && now - started >= timeouts_.maxCall) stop = Stop::kTooLong;
      if (stop == Stop::kNone && idle >= limit) stop = Stop::kTimedOut;
      if (stop == Stop::kNone) {
        // At most a second, so the floor and the bound on a call are
        // checked at least that often.
        auto wait = std::min(limit - idle, milliseconds(1000));
        if (OffersSocket(multi)) {
          quietRounds = 0;
        } else {
          // libcurl waits on no socket: it has moved on to a step that only
          // the next call starts (7.88 reads a 229/227 reply and opens the
          // data connection only when called again), and curl_multi_poll
          // would sleep the whole wait. Call it again at once; should it
          // keep offering nothing, back off so that this cannot spin.
          wait = std::min(wait, quietRounds < 3 ? milliseconds(0)
                                                : milliseconds(1 << std::min(quietRounds - 3, 6)));
          ++quietRounds;
        }
        if (wait.count() > 0) {
          curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        }
      }
    }
  }
  // Removing an unfinished transfer closes its connection at once, without
  // waiting for any reply.
  curl_multi_remove_handle(multi, easy);

  FtpResult result;
  result.replyCode = lastReplyCode_;
  result.entered = cwdReplyCode_ / 100 == 2 || listSent_;
  if (closed_ && !(stop == Stop::kDone && code == CURLE_OK)) stop = Stop::kClosed;
  switch (stop) {
    case Stop::kNone:
    case Stop::kDone:
      result.curlCode = code;
      // The reply that decides is the listing's, or the refused CWD's.
      result.outcome = ClassifyFtpFailure(
          code, listReplyCode_ != 0 ? listReplyCode_ : (cwdReplyCode_ >= 400 ? cwdReplyCode_ : 0));
      if (result.outcome == FtpOutcome::kOk && listing && (truncated_ || unreadable_)) {
        result.outcome = FtpOutcome::kIncomplete;
        result.replyCode = listReplyCode_;
        result.errorText = listReply_.substr(0, kMaxErrorText);
      } else if (result.outcome != FtpOutcome::kOk) {
        result.errorText = FtpErrorText(code, errorBuffer_.data(), lastReply_);
      }
      break;
    case Stop::kClosed:
      result.outcome = FtpOutcome::kCancelled;
      result.curlCode = CURLE_ABORTED_BY_CALLBACK;
      result.errorText = "Session closed";
      break;
    case Stop::kAbandoned:
      result.outcome = FtpOutcome::kCancelled;
      result.curlCode = CURLE_OK;
      result.errorText = "Listing abandoned";
      break;
    case Stop::kTimedOut: {
      const char* what = phase_ == Phase::kConnecting ? "Connection timed out after %lld ms"
                         : phase_ == Phase::kData     ? "No listing data for %lld ms"
                                                      : "No reply from the server for %lld ms";
      char text[96];
      std::snprintf(text, sizeof(text), what, static_cast<long long>(limit.count()));
      result.outcome = FtpOutcome::kTransient;
      result.curlCode = CURLE_OPERATION_TIMEDOUT;
      result.errorText = text;
      break;
    }
    case Stop::kTooSlow:
    case Stop::kTooLong: {
      char text[96];
      if (stop == Stop::kTooSlow) {
        std::snprintf(text, sizeof(text), "Fewer than %zu bytes received in %lld ms",
                      timeouts_.lowSpeedBytes,
                      static_cast<long long>(timeouts_.lowSpeedWindow.count()));
      } else {
        std::snprintf(text, sizeof(text), "No end after %lld ms",
                      static_cast<long long>(timeouts_.maxCall.count()));
      }
      result.outcome = FtpOutcome::kTransient;
      result.curlCode = CURLE_OPERATION_TIMEDOUT;
      result.errorText = text;
      break;
    }
    case Stop::kMultiError:
      result.outcome = FtpOutcome::kRefused;
      result.curlCode = CURLE_FAILED_INIT;
      result.errorText = curl_multi_strerror(multiCode);
      break;
  }
  NoteTrust(result);
  return result;
}

void CFtpSession::NoteTrust(FtpResult& result) const {
  // A refused certificate ends the handshake with an error of OpenSSL's
  // (curl 35 or 60); what matters is which certificate and why.
  if (trust_ == nullptr || !trust_->refused() || result.outcome == FtpOutcome::kCancelled) return;
  result.outcome = FtpOutcome::kUntrusted;
  result.errorText = trust_->RefusalText();
  if (result.errorText.size() > kMaxErrorText) result.errorText.resize(kMaxErrorText);
}

std::string CFtpSession::ServerPath(std::string_view absolutePath) const {
  if (startDir_.empty()) return std::string(absolutePath);
  if (absolutePath.find_first_not_of('/') == std::string_view::npos) return startDir_;
  return startDir_ + std::string(absolutePath);
}

}  // namespace orvane
