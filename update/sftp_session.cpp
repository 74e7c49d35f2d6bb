#include "update/sftp_session.h"

#include <curl/curl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "catalog/atomic_file.h"
#include "update/known_hosts.h"

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void InitLibcurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Every byte but the unreserved ones and "/" is escaped, so that libcurl
// decodes the path back to exactly the server's bytes.
void AppendEncodedPath(std::string& url, std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    }
  }
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsUsableHost(std::string_view host) {
  return !host.empty() &&
         host.find_first_of(std::string_view("/?#@[]\\ \t\r\n\0", 13)) == std::string_view::npos;
}

bool HasFloor(const FtpTimeouts& timeouts) {
  return timeouts.lowSpeedBytes > 0 && timeouts.lowSpeedWindow.count() > 0;
}

bool OffersSocket(CURLM* multi) {
  fd_set read{}, write{}, error{};
  FD_ZERO(&read);
  FD_ZERO(&write);
  FD_ZERO(&error);
  int highest = -1;
  return curl_multi_fdset(multi, &read, &write, &error, &highest) == CURLM_OK && highest >= 0;
}

// The kernel's TCP_ESTABLISHED (linux/tcp.h leaves the states to
// netinet/tcp.h, whose tcp_info lacks the byte counts).
constexpr int kTcpEstablished = 1;

bool TcpInfoOf(int socket, tcp_info& info) {
  socklen_t length = sizeof(info);
  return ::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0;
}

FtpResult Failure(FtpOutcome outcome, int curlCode, std::string text) {
  FtpResult result;
  result.outcome = outcome;
  result.curlCode = curlCode;
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  result.errorText = std::move(text);
  return result;
}

std::filesystem::path UserKnownHosts() {
  const char* home = std::getenv("HOME");
  // Sessions of one site open on several threads: getpwuid_r.
  passwd entry{};
  passwd* found = nullptr;
  std::array<char, 4096> buffer{};
  if ((home == nullptr || *home == '\0') &&
      ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    home = found->pw_dir;
  }
  if (home == nullptr || *home == '\0') return {};
  return std::filesystem::path(home) / ".ssh/known_hosts";
}

std::string ReadKnownHosts(const std::filesystem::path& path) {
  std::string text;
  if (path.empty() || !ReadWholeFile(path, text)) text.clear();
  return text;
}

// Whether a known-hosts text names `name` on a plain (not hashed) line, so
// that libcurl, given that file, asks the server for the key type the line
// holds.
bool NamesHostPlainly(std::string_view file, std::string_view name) {
  std::size_t start = 0;
  while (start < file.size()) {
    std::size_t end = file.find('\n', start);
    if (end == std::string_view::npos) end = file.size();
    std::string_view line = file.substr(start, end - start);
    const std::size_t blank = line.find_first_of(" \t");
    if (line.substr(0, blank) == name) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

struct SftpCallbacks {
  static std::size_t Write(char* data, std::size_t size, std::size_t count, void* self) {
    auto* session = static_cast<CSftpSession*>(self);
    if (session->abandoned_) return CURL_WRITEFUNC_PAUSE;
    session->OnData(data, size * count);
    return size * count;
  }

  static int HostKey(void* self, int keyType, const char* key, std::size_t length) {
    return static_cast<CSftpSession*>(self)->CheckHostKey(keyType, key, length);
  }

  static curl_socket_t OpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    const int socket = static_cast<CSftpSession*>(self)->OpenSocket(
        address->family, address->socktype, address->protocol);
    return socket < 0 ? CURL_SOCKET_BAD : socket;
  }

  static int CloseSocket(void* self, curl_socket_t socket) {
    static_cast<CSftpSession*>(self)->CloseSocket(socket);
    return 0;
  }
};

CSftpSession::CSftpSession() = default;

CSftpSession::~CSftpSession() { Close(); }

struct CSftpSession::EndGuard {
  CSftpSession* session;
  ~EndGuard() { session->End(); }
};

FtpResult CSftpSession::Open(const FtpLogin& login, const FtpTimeouts& timeouts) {
  InitLibcurlOnce();
  if (!IsUsableHost(login.host)) {
    return Failure(FtpOutcome::kRefused, CURLE_URL_MALFORMAT, "Invalid host name");
  }
  if (login.user.empty()) {
    return Failure(FtpOutcome::kRefused, CURLE_LOGIN_DENIED, "SFTP needs a user name");
  }
  if (HasLineBreakOrNul(login.user) || HasLineBreakOrNul(login.password) ||
      HasLineBreakOrNul(login.keyFile) || HasLineBreakOrNul(login.keyPassphrase)) {
    return Failure(FtpOutcome::kRefused, CURLE_LOGIN_DENIED,
                   "The login contains a line break or a NUL byte");
  }
  if (login.startDir.empty() || login.startDir.front() != '/' ||
      HasLineBreakOrNul(login.startDir)) {
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
      return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "Could not create the SFTP session");
    }
    lifetime_ = Lifetime::kBusy;
  }
  const EndGuard endGuard{this};

  login_ = login;
  timeouts_ = timeouts;
  startDir_ = login.startDir;
  while (!startDir_.empty() && startDir_.back() == '/') startDir_.pop_back();
  std::string host = login.host;
  if (host.find(':') != std::string::npos) {
    if (const std::size_t zone = host.find('%'); zone != std::string::npos) {
      host.insert(zone + 1, "25");
    }
    host = "[" + host + "]";
  }
  baseUrl_ = "sftp://" + host + ":" + std::to_string(login.port);

  CURL* easy = easy_;
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "sftp");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERNAME, login.user.c_str());
  long methods = 0;
  if (!login.keyFile.empty()) {
    methods |= CURLSSH_AUTH_PUBLICKEY;
    curl_easy_setopt(easy, CURLOPT_SSH_PRIVATE_KEYFILE, login.keyFile.c_str());
    // Empty: libssh2 derives the public key from the private one, rather
    // than libcurl guessing a file under ~/.ssh.
    curl_easy_setopt(easy, CURLOPT_SSH_PUBLIC_KEYFILE, "");
    if (!login.keyPassphrase.empty()) {
      curl_easy_setopt(easy, CURLOPT_KEYPASSWD, login.keyPassphrase.c_str());
    }
  }
  if (!login.password.empty()) {
    methods |= CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
    curl_easy_setopt(easy, CURLOPT_PASSWORD, login.password.c_str());
  }
  if (methods == 0) methods = CURLSSH_AUTH_AGENT;
  curl_easy_setopt(easy, CURLOPT_SSH_AUTH_TYPES, methods);

  curl_easy_setopt(easy, CURLOPT_SSH_HOSTKEYFUNCTION, &SftpCallbacks::HostKey);
  curl_easy_setopt(easy, CURLOPT_SSH_HOSTKEYDATA, this);
  // Given a known-hosts file, libcurl asks the server for the key type
  // that the file holds for the host (it never writes the file: the
  // callback above decides). The data directory's file comes first.
  const std::string name = KnownHostsName(login.host, login.port);
  for (const std::filesystem::path& file : {login.knownHosts, UserKnownHosts()}) {
    if (!file.empty() && NamesHostPlainly(ReadKnownHosts(file), name)) {
      curl_easy_setopt(easy, CURLOPT_SSH_KNOWNHOSTS, file.c_str());
      break;
    }
  }

  // The session's own clock enforces the time-outs (Perform); libcurl's
  // limits are a backstop beyond them.
  const auto receive = std::max(timeouts.controlReceive, timeouts.dataReceive);
  curl_easy_setopt(
      easy, CURLOPT_CONNECTTIMEOUT_MS,
      static_cast<long>((timeouts.connect + 4 * receive + milliseconds(1000)).count()));
  if (HasFloor(timeouts)) {
    const long lowSpeedSeconds = static_cast<long>(timeouts.lowSpeedWindow.count() / 1000 + 2);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_.data());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &SftpCallbacks::Write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &SftpCallbacks::OpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &SftpCallbacks::CloseSocket);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 1L);

  // A body-less request for a directory logs in and lists nothing; the
  // connection then stays in the multi handle's cache for the listings.
  FtpResult result = Perform(UrlOf("/"), Request::kLogin);
  connected_ = result.ok();
  result.entered = false;
  return result;
}

std::string CSftpSession::UrlOf(std::string_view absolutePath) const {
  std::string path = startDir_;
  path.append(absolutePath);
  // libcurl reads a path that begins "/~/" as one below the home
  // directory; a directory named "~" at the root is reached as "/./~".
  if (path == "/~" || path.starts_with("/~/")) path.insert(0, "/.");
  std::string url = baseUrl_;
  AppendEncodedPath(url, path);
  if (url.back() != '/') url += '/';
  return url;
}

FtpResult CSftpSession::ListDirectory(std::string_view absolutePath,
                                      const FtpEntrySink& onEntries) {
  sink_ = &onEntries;
  FtpResult result = List(absolutePath);
  sink_ = nullptr;
  return result;
}

FtpResult CSftpSession::ListRaw(std::string_view absolutePath, std::string_view,
                                const FtpDataSink& onData) {
  rawSink_ = &onData;
  FtpResult result = List(absolutePath);
  rawSink_ = nullptr;
  return result;
}

FtpResult CSftpSession::List(std::string_view absolutePath) {
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
  batchSize_ = 0;
  unreadLines_ = 0;
  splitter_.Reset(ListingFormat::kList);
  FtpResult result = Perform(UrlOf(absolutePath), Request::kList);
  if (result.ok() && sink_ != nullptr && !abandoned_) {
    splitter_.Finish([this](const ListingEntry& entry) { Collect(entry); });
    Deliver();
  }
  skipped_ = splitter_.skippedNames();
  if (unreadLines_ > 0) skipped_.any = true;
  if (abandoned_) {
    const bool entered = result.entered;
    result = Failure(FtpOutcome::kCancelled, CURLE_OK, "Listing abandoned");
    result.entered = entered;
  }
  return result;
}

FtpResult CSftpSession::PathFacts(std::string_view, std::string& facts) {
  facts.clear();
  return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "No MLST on this session");
}

FtpResult CSftpSession::Probe() {
  if (!Begin()) return Failure(FtpOutcome::kCancelled, CURLE_ABORTED_BY_CALLBACK, "Session closed");
  const EndGuard endGuard{this};
  if (!connected_) {
    return Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, "The session is not connected");
  }
  // "*": the server's answer is what counts, whatever it says.
  const std::string command = "*statvfs " + (startDir_.empty() ? std::string("/") : startDir_);
  curl_slist* quote = curl_slist_append(nullptr, command.c_str());
  curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
  FtpResult result = Perform(UrlOf("/"), Request::kProbe);
  curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
  curl_slist_free_all(quote);
  return result;
}

void CSftpSession::Close() {
  std::unique_lock lock(mutex_);
  closed_ = true;
  for (const int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
  if (lifetime_ == Lifetime::kBusy) {
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
    return;
  }
  freed_.wait(lock, [this] { return lifetime_ != Lifetime::kFreeing; });
  ReleaseHandles(lock);
}

bool CSftpSession::Begin() {
  std::lock_guard lock(mutex_);
  if (closed_ || easy_ == nullptr) return false;
  lifetime_ = Lifetime::kBusy;
  return true;
}

void CSftpSession::End() {
  std::unique_lock lock(mutex_);
  lifetime_ = Lifetime::kIdle;
  if (closed_) ReleaseHandles(lock);
}

void CSftpSession::ReleaseHandles(std::unique_lock<std::mutex>& lock) {
  if (easy_ == nullptr && multi_ == nullptr) return;
  CURL* easy = easy_;
  CURLM* multi = multi_;
  easy_ = multi_ = nullptr;
  lifetime_ = Lifetime::kFreeing;
  for (const int socket : sockets_) ::shutdown(socket, SHUT_RDWR);
  lock.unlock();
  if (multi != nullptr) curl_multi_cleanup(multi);
  if (easy != nullptr) curl_easy_cleanup(easy);
  lock.lock();
  lifetime_ = Lifetime::kIdle;
  freed_.notify_all();
}

int CSftpSession::OpenSocket(int family, int type, int protocol) {
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
  phase_ = Phase::kConnecting;
  lastSignOfLife_ = Clock::now();
  return socket;
}

void CSftpSession::CloseSocket(int socket) {
  std::lock_guard lock(mutex_);
  std::erase(sockets_, socket);
  ::close(socket);
}

std::uint64_t CSftpSession::BytesReceived() const {
  std::uint64_t total = 0;
  for (const int socket : sockets_) {
    tcp_info info{};
    if (TcpInfoOf(socket, info)) total += info.tcpi_bytes_received;
  }
  return total;
}

bool CSftpSession::ConnectionStands() const {
  return std::any_of(sockets_.begin(), sockets_.end(), [](int socket) {
    tcp_info info{};
    return TcpInfoOf(socket, info) && info.tcpi_state == kTcpEstablished;
  });
}

int CSftpSession::CheckHostKey(int, const char* key, std::size_t length) {
  keyChecked_ = true;
  keyTrusted_ = false;
  peer_ = PeerIdentity{};
  const auto presented = HostKeyFromBlob(std::string_view(key, length));
  if (!presented) {
    keyProblem_ = "The server's host key cannot be read";
    peer_.problem = keyProblem_;
    return CURLKHMATCH_MISMATCH;
  }
  peer_.fingerprint = presented->Fingerprint();
  peer_.details = presented->type;
  peer_.sshKey = presented->Text();
  const std::string name = KnownHostsName(login_.host, login_.port);
  const std::filesystem::path userFile = UserKnownHosts();
  const HostKeyVerdict verdict =
      CombineVerdicts(LookUpHostKey(ReadKnownHosts(login_.knownHosts), name, *presented),
                      LookUpHostKey(ReadKnownHosts(userFile), name, *presented));
  switch (verdict.kind) {
    case HostKeyVerdict::Kind::kKnown:
      keyTrusted_ = true;
      keyProblem_.clear();
      return CURLKHMATCH_OK;
    case HostKeyVerdict::Kind::kUnknown:
      peer_.problem = "not in any known-hosts file";
      keyProblem_ = "The host key " + peer_.fingerprint + " (" + presented->type + ") of " + name +
                    " is not trusted: it is in no known-hosts file";
      break;
    case HostKeyVerdict::Kind::kChanged:
      peer_.problem = "changed: the key known for this host is " + verdict.knownFingerprint;
      keyProblem_ = "The host key of " + name + " has changed: known " + verdict.knownFingerprint +
                    " (" + verdict.knownType + "), presented " + peer_.fingerprint + " (" +
                    presented->type + ")";
      break;
    case HostKeyVerdict::Kind::kRevoked:
      peer_.problem = "revoked in ~/.ssh/known_hosts";
      keyProblem_ =
          "The host key " + peer_.fingerprint + " of " + name + " is revoked in ~/.ssh/known_hosts";
      break;
  }
  return CURLKHMATCH_MISMATCH;
}

std::string CSftpSession::ExplainFailure(int curlCode, std::string text) const {
  // libssh2 -5 (LIBSSH2_ERROR_KEX_FAILURE): no method in common, which
  // with OpenSSH's defaults means the host key type.
  if (text.find("Unable to exchange encryption keys") != std::string::npos ||
      text.find("-5,") != std::string::npos) {
    return "No SSH host key type in common with the server: this system's libssh2 (1.10) "
           "cannot verify rsa-sha2 signatures, so a server that offers only an RSA host key "
           "cannot be reached (" +
           text + ")";
  }
  if (curlCode == CURLE_LOGIN_DENIED && !login_.keyFile.empty() &&
      PrivateKeyType(login_.keyFile) == "ssh-rsa") {
    return "Login refused: this system's libssh2 (1.10) signs with RSA only as ssh-rsa (SHA-1), "
           "which current OpenSSH servers refuse; use an ed25519 or ECDSA key (" +
           text + ")";
  }
  if (curlCode == CURLE_LOGIN_DENIED && login_.keyFile.empty() && login_.password.empty()) {
    return "Login refused: no key file and no password, and the SSH agent offered no key the "
           "server accepts (" +
           text + ")";
  }
  return text;
}

void CSftpSession::OnData(const char* data, std::size_t size) {
  lastSignOfLife_ = Clock::now();
  phase_ = Phase::kData;
  gotData_ = true;
  if (rawSink_ != nullptr) {
    if (!(*rawSink_)(std::string_view(data, size))) abandoned_ = true;
    return;
  }
  if (sink_ == nullptr) return;
  const std::size_t entries = batchSize_;
  const std::size_t skipped = splitter_.skippedLines();
  splitter_.Feed(data, size, [this](const ListingEntry& entry) { Collect(entry); });
  std::string_view line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (batchSize_ == entries && splitter_.skippedLines() == skipped && !line.ends_with(" .") &&
      !line.ends_with(" ..")) {
    ++unreadLines_;
  }
  // libcurl hands over one line at a time: hand entries out in batches.
  if (batchSize_ >= 256) Deliver();
}

void CSftpSession::Collect(const ListingEntry& entry) {
  if (batchSize_ < batch_.size()) {
    batch_[batchSize_] = entry;
  } else {
    batch_.push_back(entry);
  }
  ++batchSize_;
}

void CSftpSession::Deliver() {
  if (batchSize_ == 0 || sink_ == nullptr || abandoned_) return;
  if (!(*sink_)(std::span<const ListingEntry>(batch_.data(), batchSize_))) abandoned_ = true;
  batchSize_ = 0;
}

FtpResult CSftpSession::Perform(const std::string& url, Request request) {
  CURL* easy = easy_;
  CURLM* multi = multi_;
  curl_easy_setopt(easy, CURLOPT_NOBODY, request == Request::kList ? 0L : 1L);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  errorBuffer_[0] = '\0';
  keyChecked_ = false;
  keyTrusted_ = false;
  abandoned_ = false;
  gotData_ = false;
  phase_ = Phase::kAwaitReply;
  lastSignOfLife_ = Clock::now();
  received_ = BytesReceived();
  commandsSent_ += request == Request::kList ? 3 : 1;

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
  auto windowStart = started;
  std::uint64_t windowBytes = 0;  // bytes received since the call began
  std::uint64_t callBytes = 0;
  bool dataWindow = false;
  int quietRounds = 0;
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
      // The kernel counts what arrives, handshake and login included,
      // which libcurl does not show.
      const std::uint64_t received = BytesReceived();
      if (received != received_) {
        if (received > received_) callBytes += received - received_;
        received_ = received;
        lastSignOfLife_ = now;
        if (phase_ == Phase::kConnecting) phase_ = Phase::kAwaitReply;
      }
      // libcurl says nothing when the TCP handshake completes; the socket
      // does.
      if (phase_ == Phase::kConnecting && ConnectionStands()) {
        phase_ = Phase::kAwaitReply;
        lastSignOfLife_ = now;
      }
      limit = phase_ == Phase::kConnecting ? timeouts_.connect
              : phase_ == Phase::kData     ? timeouts_.dataReceive
                                           : timeouts_.controlReceive;
      const auto idle = std::chrono::duration_cast<milliseconds>(now - lastSignOfLife_);
      if (phase_ == Phase::kData && !dataWindow) {
        dataWindow = true;
        windowStart = now;
        windowBytes = callBytes;
      }
      if (HasFloor(timeouts_) && now - windowStart >= timeouts_.lowSpeedWindow) {
        if (callBytes - windowBytes < timeouts_.lowSpeedBytes) stop = Stop::kTooSlow;
        windowStart = now;
        windowBytes = callBytes;
      }
      if (stop == Stop::kNone && now - started >= timeouts_.maxCall) stop = Stop::kTooLong;
      if (stop == Stop::kNone && idle >= limit) stop = Stop::kTimedOut;
      if (stop == Stop::kNone) {
        auto wait = std::min(limit - idle, milliseconds(1000));
        if (OffersSocket(multi)) {
          quietRounds = 0;
        } else {
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
  // What decides a failure's kind is whether the connection still stands,
  // which removing the handle may change.
  const bool stands = stop == Stop::kDone && code != CURLE_OK && ConnectionStands();
  curl_multi_remove_handle(multi, easy);

  FtpResult result;
  if (closed_ && !(stop == Stop::kDone && code == CURLE_OK)) stop = Stop::kClosed;
  switch (stop) {
    case Stop::kNone:
    case Stop::kDone:
      result.curlCode = code;
      if (code == CURLE_OK) {
        result.entered = true;
        break;
      }
      result.errorText = ExplainFailure(
          code, errorBuffer_[0] != '\0' ? errorBuffer_.data() : curl_easy_strerror(code));
      if (keyChecked_ && !keyTrusted_) {
        result.outcome = FtpOutcome::kUntrusted;
        result.errorText = keyProblem_;
      } else if (code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED) {
        result.outcome = FtpOutcome::kRefused;
      } else if (request == Request::kList && stands) {
        // The server answered, with a failure of its own.
        result.outcome = gotData_ ? FtpOutcome::kIncomplete : FtpOutcome::kRefused;
        result.entered = gotData_;
      } else if (code == CURLE_LOGIN_DENIED || code == CURLE_SSH || code == CURLE_FAILED_INIT ||
                 code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL ||
                 code == CURLE_COULDNT_RESOLVE_HOST) {
        result.outcome = request == Request::kList ? FtpOutcome::kTransient : FtpOutcome::kRefused;
      } else {
        result.outcome = FtpOutcome::kTransient;
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
      result.entered = true;
      break;
    case Stop::kTimedOut: {
      const char* what = phase_ == Phase::kConnecting ? "Connection timed out after %lld ms"
                         : phase_ == Phase::kData     ? "No listing data for %lld ms"
                                                      : "No reply from the server for %lld ms";
      char text[96];
      std::snprintf(text, sizeof(text), what, static_cast<long long>(limit.count()));
      result = Failure(FtpOutcome::kTransient, CURLE_OPERATION_TIMEDOUT, text);
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
      result = Failure(FtpOutcome::kTransient, CURLE_OPERATION_TIMEDOUT, text);
      break;
    }
    case Stop::kMultiError:
      result = Failure(FtpOutcome::kRefused, CURLE_FAILED_INIT, curl_multi_strerror(multiCode));
      break;
  }
  if (result.errorText.size() > kMaxErrorText) result.errorText.resize(kMaxErrorText);
  return result;
}

}  // namespace orvane
