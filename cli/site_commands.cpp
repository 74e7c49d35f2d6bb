// sites, add, edit, delete and tree: the site list and the stored catalogs.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalog/ftp_dir.h"
#include "catalog/ftp_file.h"
#include "catalog/ftp_site.h"
#include "catalog/site_health.h"
#include "catalog/site_options.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/journal_json.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "document/site_fields.h"
#include "document/site_trust.h"

namespace orvane {

// The longest line --password-stdin and the prompt take.
constexpr std::size_t kLongestInputLine = 64 * 1024;

std::optional<std::string> ReadLineFromStdin(bool& tooLong) {
  tooLong = false;
  std::string line;
  bool any = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR && !CCliHost::Interrupted()) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    any = true;
    if (c == '\n') break;
    if (line.size() <= kLongestInputLine) {
      line.push_back(c);
    } else {
      tooLong = true;
    }
  }
  if (!any) return std::nullopt;
  if (line.ends_with('\r')) line.pop_back();
  if (line.size() > kLongestInputLine) tooLong = true;
  return line;
}

namespace {

// A stored text on one line of a tab-separated table.
std::string OneLine(std::string_view bytes) {
  return CliContext::Plain(bytes);
}

bool Saved(CliContext& context, SiteChange change) {
  if (change == SiteChange::kSaved) return true;
  if (change == SiteChange::kRefused) {
    context.Fail(kExitNothing, "orvane-cli: the site is being updated; nothing changed");
    return false;
  }
  if (change == SiteChange::kTargetTaken) {
    context.Fail(kExitFailed, "orvane-cli: the new key's data directory " +
                                  context.doc.siteListError() +
                                  " (another catalog?); nothing changed");
    return false;
  }
  context.Fail(kExitFailed, "orvane-cli: could not save " + context.doc.siteListError() +
                                "; the change is lost");
  return false;
}

// The key a command settled on: plain, a line; --json, {NAME: KEY, ...}.
void PrintKey(CliContext& context, std::string_view name, const std::string& key,
              std::string_view otherName = {}, const std::string& other = {}) {
  if (context.json) {
    JsonWriter json;
    json.BeginObject().Key(name).String(CliContext::Shown(key));
    if (!otherName.empty()) json.Key(otherName).String(CliContext::Shown(other));
    context.out << json.EndObject().Text();
  } else if (!key.empty()) {
    context.out << CliContext::Plain(key) << '\n';
  }
}

const char* FieldName(SiteField field) {
  switch (field) {
    case SiteField::kHost:
      return "the host";
    case SiteField::kUserName:
      return "the user name";
    case SiteField::kPassword:
      return "the password";
    case SiteField::kNickname:
      return "the nickname";
    case SiteField::kRemarks:
      return "the remarks";
  }
  return "a field";
}

// A field the site cannot have (see document/site_fields.h): a usage error
// that says which field and why; nothing is changed.
int RefuseField(CliContext& context, std::string_view command, const SiteFieldProblem& problem,
                std::string_view key = {}) {
  using Kind = SiteFieldProblem::Kind;
  const std::string field = FieldName(problem.field);
  std::string text;
  switch (problem.kind) {
    case Kind::kNone:
      return 0;
    case Kind::kEmptyHost:
      text = "give a host";
      break;
    case Kind::kBadHost:
      text = "a host is a host name, an IPv4 address or an IPv6 address";
      break;
    case Kind::kLineBreak:
      text = field +
             " holds a line break (CR or LF) or a NUL byte, which would end the FTP command "
             "that sends it";
      break;
    case Kind::kKeyTooLong:
      text = "the site key " + CliContext::Plain(key) + " is too long (" +
             std::to_string(key.size()) + " bytes; at most " +
             std::to_string(MaxDataDirNameBytes()) + " fit the name of its data directory)";
      break;
    case Kind::kNoGbkForm:
      text = field + " holds characters that site.ds cannot store (it keeps code page 936, GBK): " +
             problem.characters;
      break;
  }
  return context.UsageError(command, text + "; nothing changed");
}

// Typed text for `field` whose characters site.ds cannot all store.
int RefuseTyped(CliContext& context, std::string_view command, SiteField field,
                std::string_view typed) {
  return RefuseField(context, command, CheckTypedField(field, typed));
}

// The settings as they would be stored.
int RefuseSettings(CliContext& context, std::string_view command, const SiteSettings& settings,
                   const SiteSettings* before = nullptr) {
  const SiteFieldProblem problem = CheckSiteSettings(settings, before);
  if (problem.ok()) return 0;
  CFTPSite probe;
  settings.ApplyTo(probe);
  return RefuseField(context, command, problem, probe.siteKey());
}

// A host as typed: an IPv6 address may come in the brackets of a URL; the
// site keeps it without them.
std::string TypedHost(std::string_view typed) {
  if (typed.size() > 2 && typed.front() == '[' && typed.back() == ']') {
    typed = typed.substr(1, typed.size() - 2);
  }
  return std::string(typed);
}

// The login as the site dialog settles it: "anonymous" and the placeholder
// for an anonymous login, else what was typed.
template <typename Settings>
void SetLogin(Settings& site, bool anonymous, std::string user, std::string password) {
  if (anonymous) {
    site.userName = "anonymous";
    site.password = std::string(kAnonymousPassword);
  } else {
    site.userName = std::move(user);
    site.password = std::move(password);
  }
}

// Asks for the password on the terminal with echo off; the terminal's
// settings come back however the read ends (Ctrl-C included).
std::optional<std::string> PromptForPassword(CliContext& context, std::string_view key,
                                             bool& tooLong, std::string_view what) {
  context.err << what << " for " << CliContext::Escaped(key) << ": " << std::flush;
  termios saved{};
  const bool canHide = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (canHide) {
    termios hidden = saved;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hidden.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  std::optional<std::string> password = ReadLineFromStdin(tooLong);
  if (canHide) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!canHide || !password) context.err << '\n' << std::flush;
  return password;
}

// The password a command got: --password TEXT, --password-stdin, or (when
// `promptKey` is given and standard input is a terminal) a prompt. Returns
// 0, or the exit status when there is none to be had.
int TakePassword(CliContext& context, std::string_view command, const ParsedArgs& parsed,
                 const std::string* promptKey, std::optional<std::string>& password,
                 std::string_view what = "Password") {
  password.reset();
  bool tooLong = false;
  if (const std::string* text = parsed.Value("password")) {
    if (parsed.Has("password-stdin")) {
      return context.UsageError(command, "give --password or --password-stdin, not both");
    }
    password = *text;
  } else if (parsed.Has("password-stdin")) {
    password = ReadLineFromStdin(tooLong);
    if (!password) return context.UsageError(command, "--password-stdin: no line on stdin");
  } else if (promptKey && ::isatty(STDIN_FILENO)) {
    password = PromptForPassword(context, *promptKey, tooLong, what);
    if (!password && CCliHost::Interrupted()) return context.Fail(kExitInterrupted, "stopped");
    if (!password) return context.UsageError(command, "no password was typed");
  }
  if (tooLong) {
    password.reset();
    return context.UsageError(command, "the password is longer than 64 KiB; nothing changed");
  }
  if (password) {
    if (password->find('\0') != std::string::npos) {
      password.reset();
      return context.UsageError(command, "the password holds a NUL byte; nothing changed");
    }
    if (const int status = RefuseTyped(context, command, SiteField::kPassword, *password)) {
      return status;
    }
  }
  return 0;
}

constexpr char kCharsetUsage[] =
    "--charset takes auto, utf-8, gbk, big5, shift_jis, euc-jp, euc-kr, windows-1251 or "
    "windows-1252";

// --charset, when given; false for a name that is none.
bool ParseCharsetOption(const ParsedArgs& parsed, NameCharset& charset) {
  const std::string* text = parsed.Value("charset");
  if (!text) return true;
  const std::optional<NameCharset> parsedCharset = ParseCharsetName(*text);
  if (!parsedCharset) return false;
  charset = *parsedCharset;
  return true;
}

bool ParseOnOff(std::string_view text, bool& value) {
  if (text == "on" || text == "yes" || text == "1" || text == "true") {
    value = true;
    return true;
  }
  if (text == "off" || text == "no" || text == "0" || text == "false") {
    value = false;
    return true;
  }
  return false;
}

constexpr char kProtocolUsage[] = "--protocol takes ftp, ftpes, ftps or sftp";

// --protocol, --start-dir and --key-file into `access` (and the port
// into `port` when the protocol changes and --port was not given):
// returns 0, or the exit status of a usage error.
int ParseAccessOptions(CliContext& context, std::string_view command, const ParsedArgs& parsed,
                       SiteAccess& access, std::uint64_t& port) {
  const SiteProtocol before = access.protocol;
  if (const std::string* text = parsed.Value("protocol")) {
    const std::optional<SiteProtocol> protocol = ParseProtocol(*text);
    if (!protocol) return context.UsageError(command, kProtocolUsage);
    access.protocol = *protocol;
  }
  // A site that kept its protocol's default port moves to the new one's.
  if (access.protocol != before && !parsed.Has("port") &&
      ConnectPort(before, static_cast<std::uint32_t>(port)) == DefaultPort(before)) {
    port = DefaultPort(access.protocol);
  }
  if (const std::string* text = parsed.Value("start-dir")) {
    const std::optional<std::string> dir = NormalStartDirectory(*text);
    if (!dir) {
      return context.UsageError(command,
                                "--start-dir takes an absolute server directory (\"/pub\"), "
                                "without \".\" or \"..\"");
    }
    access.startDir = *dir;
  }
  if (const std::string* text = parsed.Value("key-file")) {
    if (text->empty()) {
      access.keyFile.clear();
    } else {
      std::error_code error;
      const std::filesystem::path path = std::filesystem::absolute(*text, error);
      if (error || !std::filesystem::is_regular_file(path, error) ||
          path.native().size() > kMaxAccessPathBytes) {
        return context.UsageError(command, "--key-file: " + *text + " is no readable file");
      }
      access.keyFile = path.lexically_normal().native();
    }
  }
  if (access.protocol != SiteProtocol::kSftp) {
    if (!access.keyFile.empty() && parsed.Has("key-file")) {
      return context.UsageError(command, "--key-file is for sftp sites");
    }
    // A key file logs in to SSH only; another protocol leaves it.
    access.keyFile.clear();
  }
  return 0;
}

// Access fields of a site's object in `sites --json`.
void AccessFields(JsonWriter& json, const CFTPSite& site) {
  const SiteAccess access = site.Access();
  json.Key("protocol").String(ProtocolName(access.protocol));
  json.Key("startDir").String(CliContext::Shown(access.startDir));
  json.Key("keyFile");
  if (access.keyFile.empty()) {
    json.Raw("null");
  } else {
    json.String(CliContext::Shown(access.keyFile));
  }
  json.Key("fingerprint");
  if (access.pin.empty()) {
    json.Raw("null");
  } else {
    json.String(access.pin);
  }
}

// The site's health record as fields of its object; null for what is not
// known (no record, no success yet, no error yet).
void HealthFields(JsonWriter& json, const std::optional<SiteHealth>& health) {
  const bool succeeded = health && health->HasSucceeded();
  const auto number = [&](std::string_view key, std::uint64_t value) {
    json.Key(key);
    if (succeeded) {
      json.Number(value);
    } else {
      json.Raw("null");
    }
  };
  json.Key("lastUpdate");
  if (succeeded) {
    json.String(UtcTimeText(health->lastSuccess));
  } else {
    json.Raw("null");
  }
  number("durationMs", succeeded ? health->durationMs : 0);
  number("entries", succeeded ? health->entries : 0);
  number("bytes", succeeded ? health->bytes : 0);
  number("newEntries", succeeded ? health->newEntries : 0);
  const bool failed = health && health->HasError();
  json.Key("lastError");
  if (failed) {
    json.String(DecodeName(health->errorText, NameCharset::kUtf8));
  } else {
    json.Raw("null");
  }
  json.Key("lastErrorKind");
  if (failed) {
    json.String(health->errorKind);
  } else {
    json.Raw("null");
  }
  json.Key("lastErrorTime");
  if (failed) {
    json.String(UtcTimeText(health->errorTime));
  } else {
    json.Raw("null");
  }
}

}  // namespace

int RunSites(CliContext& context, const std::vector<std::string>& args) {
  const bool keysOnly = args.size() == 1 && args.front() == "--keys";
  if (!args.empty() && !keysOnly) return context.UsageError("sites", "takes only --keys");
  std::ostream& out = context.out;
  if (keysOnly) {
    // For shell completion: what a command takes as KEY, one a line.
    JsonWriter json;
    json.BeginArray();
    for (const auto& site : context.doc.sites()) {
      if (context.json) {
        json.String(CliContext::Shown(site->siteKey()));
      } else {
        out << OneLine(site->siteKey()) << '\n';
      }
    }
    if (context.json) out << json.EndArray().Text();
    return 0;
  }
  if (context.json) {
    JsonWriter json;
    json.BeginArray();
    for (const auto& site : context.doc.sites()) {
      json.BeginObject()
          .Key("key")
          .String(CliContext::Shown(site->siteKey()))
          .Key("host")
          .String(CliContext::Shown(site->host))
          .Key("port")
          .Number(site->ConnectionPort())
          .Key("login")
          .String(site->IsAnonymous() ? "anonymous" : "user")
          .Key("user")
          .String(CliContext::Shown(site->userName))
          .Key("nickname")
          .String(CliContext::Shown(site->nickname))
          .Key("remarks")
          .String(CliContext::Shown(site->remarks))
          .Key("anonymousUpdate")
          .Bool(site->anonymousUpdate)
          .Key("charset")
          .String(CharsetName(site->charset.load()));
      AccessFields(json, *site);
      const std::filesystem::path dataDir = site->DataDirectory(context.doc.GetProgramDir());
      json.Key("charsetDecided");
      if (const std::optional<CharsetDecision> decision = ReadCharsetDecision(dataDir)) {
        json.String(CharsetName(decision->decided));
      } else {
        json.Raw("null");
      }
      HealthFields(json, ReadSiteHealth(dataDir));
      json.EndObject();
    }
    out << json.EndArray().Text();
    return 0;
  }
  for (const auto& site : context.doc.sites()) {
    out << OneLine(site->siteKey()) << '\t' << OneLine(site->host) << '\t' << site->ConnectionPort()
        << '\t' << (site->IsAnonymous() ? "anonymous" : "user") << '\t' << OneLine(site->nickname)
        << '\t' << OneLine(site->remarks) << '\n';
  }
  return 0;
}

int RunAdd(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {"port", "user", "password", "nickname", "remarks", "charset", "protocol",
                  "start-dir", "key-file"},
                 {"anonymous", "anonymous-update", "password-stdin"}, parsed, error)) {
    return context.UsageError("add", error);
  }
  NameCharset charset = NameCharset::kAuto;
  if (!ParseCharsetOption(parsed, charset)) return context.UsageError("add", kCharsetUsage);
  if (parsed.positional.size() != 1) return context.UsageError("add", "give one HOST");
  const bool anonymous = parsed.Has("anonymous");
  if (anonymous && (parsed.Has("user") || parsed.Has("password") || parsed.Has("password-stdin"))) {
    return context.UsageError("add", "--anonymous cannot go with --user or a password");
  }
  if (!anonymous && !parsed.Has("user")) {
    return context.UsageError("add", "give --user NAME (and a password) or --anonymous");
  }
  std::uint64_t port = 21;
  if (const std::string* text = parsed.Value("port");
      text && !ParseNumber(*text, kMinSitePort, kMaxSitePort, port)) {
    return context.UsageError("add", "--port takes a whole number from 1 to 65535");
  }
  SiteAccess access;
  if (const int status = ParseAccessOptions(context, "add", parsed, access, port)) return status;
  // Every typed field is checked before anything is asked or stored.
  const std::string typedHost = TypedHost(parsed.positional[0]);
  const std::string* user = parsed.Value("user");
  for (const auto& [field, text] :
       {std::pair{SiteField::kHost, &typedHost}, std::pair{SiteField::kUserName, user},
        std::pair{SiteField::kPassword, parsed.Value("password")},
        std::pair{SiteField::kNickname, parsed.Value("nickname")},
        std::pair{SiteField::kRemarks, parsed.Value("remarks")}}) {
    if (!text) continue;
    if (const int status = RefuseTyped(context, "add", field, *text)) return status;
  }

  SiteSettings settings;
  settings.host = CliContext::StoredText(typedHost);
  settings.port = static_cast<std::uint32_t>(port);
  SetLogin(settings, anonymous, user ? CliContext::StoredText(*user) : std::string(),
           std::string(anonymous ? kAnonymousPassword : ""));
  // Checked before the prompt: nobody types a password for a refused site.
  if (const int status = RefuseSettings(context, "add", settings)) return status;
  std::optional<std::string> password;
  if (!anonymous) {
    if (context.doc.HasSiteWithLogin(settings.host, settings.userName)) {
      return context.Fail(kExitNothing, "站点已有！");
    }
    const std::string promptKey = parsed.positional[0] + "@" + *user;
    // With a key file the site's password is the key's passphrase.
    if (const int status =
            TakePassword(context, "add", parsed, &promptKey, password,
                         access.keyFile.empty() ? "Password" : "Passphrase of the key file")) {
      return status;
    }
    settings.password = password ? CliContext::StoredText(*password) : std::string();
    if (const int status = RefuseSettings(context, "add", settings)) return status;
  }
  // Same host and same effective user name: the site is there already,
  // whatever its password.
  if (context.doc.HasSiteWithLogin(settings.host, settings.userName)) {
    return context.Fail(kExitNothing, "站点已有！");
  }
  settings.anonymousUpdate = parsed.Has("anonymous-update");
  settings.charset = charset;
  settings.access = access;
  if (const std::string* text = parsed.Value("nickname")) {
    settings.nickname = CliContext::StoredText(*text);
  }
  if (const std::string* text = parsed.Value("remarks")) {
    settings.remarks = CliContext::StoredText(*text);
  }
  auto site = std::make_shared<CFTPSite>();
  settings.ApplyTo(*site);
  const std::string key = site->siteKey();
  const SiteChange added = context.doc.AddSite(std::move(site));
  if (added == SiteChange::kRefused) {
    // Added by another process in the meantime.
    return context.Fail(kExitNothing, "站点已有！");
  }
  if (!Saved(context, added)) return kExitFailed;
  PrintKey(context, "key", key);
  return 0;
}

int RunEdit(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {"host", "port", "user", "password", "nickname", "remarks", "anonymous-update",
                  "charset", "protocol", "start-dir", "key-file"},
                 {"anonymous", "password-stdin"}, parsed, error)) {
    return context.UsageError("edit", error);
  }
  if (parsed.positional.size() != 1) return context.UsageError("edit", "give one KEY");
  std::shared_ptr<CFTPSite> site = context.FindSite(parsed.positional[0]);
  if (!site) {
    return context.Fail(kExitNothing,
                        "orvane-cli edit: no site has the key " + parsed.positional[0]);
  }
  const bool anonymous = parsed.Has("anonymous");
  const std::string* user = parsed.Value("user");
  const bool passwordGiven = parsed.Has("password") || parsed.Has("password-stdin");
  if (anonymous && (user || passwordGiven)) {
    return context.UsageError("edit", "--anonymous cannot go with --user or a password");
  }
  if (site->IsAnonymous() && passwordGiven && !user) {
    return context.UsageError("edit", "the site logs in anonymously: give --user with a password");
  }
  std::uint64_t port = site->port;
  if (const std::string* text = parsed.Value("port");
      text && !ParseNumber(*text, kMinSitePort, kMaxSitePort, port)) {
    return context.UsageError("edit", "--port takes a whole number from 1 to 65535");
  }
  SiteAccess access = site->Access();
  if (const int status = ParseAccessOptions(context, "edit", parsed, access, port)) return status;
  NameCharset charset = site->charset.load();
  if (!ParseCharsetOption(parsed, charset)) return context.UsageError("edit", kCharsetUsage);
  bool anonymousUpdate = site->anonymousUpdate;
  if (const std::string* text = parsed.Value("anonymous-update");
      text && !ParseOnOff(*text, anonymousUpdate)) {
    return context.UsageError("edit", "--anonymous-update takes on or off");
  }
  std::optional<std::string> typedHost;
  if (const std::string* text = parsed.Value("host")) typedHost = TypedHost(*text);
  for (const auto& [field, text] :
       {std::pair{SiteField::kHost, typedHost ? &std::as_const(*typedHost) : nullptr},
        std::pair{SiteField::kUserName, user},
        std::pair{SiteField::kPassword, parsed.Value("password")},
        std::pair{SiteField::kNickname, parsed.Value("nickname")},
        std::pair{SiteField::kRemarks, parsed.Value("remarks")}}) {
    if (!text) continue;
    if (const int status = RefuseTyped(context, "edit", field, *text)) return status;
  }

  const SiteSettings before = SiteSettings::Of(*site);
  SiteSettings settings = before;
  if (typedHost) settings.host = CliContext::StoredText(*typedHost);
  if (user && !anonymous) settings.userName = CliContext::StoredText(*user);
  if (anonymous) SetLogin(settings, true, {}, {});
  // Checked before the prompt: nobody types a password for a refused site.
  if (const int status = RefuseSettings(context, "edit", settings, &before)) return status;
  settings = before;
  if (typedHost) settings.host = CliContext::StoredText(*typedHost);
  // A site that leaves its anonymous login has no password to keep: ask
  // for one on a terminal. Any other edit keeps the stored password.
  std::optional<std::string> password;
  const std::string promptKey =
      CliContext::Shown(settings.host) + "@" + (user ? *user : std::string());
  if (const int status = TakePassword(
          context, "edit", parsed, user && site->IsAnonymous() ? &promptKey : nullptr, password)) {
    return status;
  }
  if (anonymous) {
    SetLogin(settings, true, {}, {});
  } else if (user) {
    // Leaving an anonymous login keeps no trace of the placeholder: the
    // dialog shows empty fields for an anonymous site.
    std::string newPassword = password              ? CliContext::StoredText(*password)
                              : site->IsAnonymous() ? std::string()
                                                    : site->password;
    SetLogin(settings, false, CliContext::StoredText(*user), std::move(newPassword));
  } else if (password) {
    settings.password = CliContext::StoredText(*password);
  }
  settings.port = static_cast<std::uint32_t>(port);
  settings.anonymousUpdate = anonymousUpdate;
  settings.charset = charset;
  // A key accepted for another server, port or protocol says nothing of
  // this one.
  settings.access = access;
  if (!SameServer(before, settings)) settings.access.pin.clear();
  if (const std::string* text = parsed.Value("nickname")) {
    settings.nickname = CliContext::StoredText(*text);
  }
  if (const std::string* text = parsed.Value("remarks")) {
    settings.remarks = CliContext::StoredText(*text);
  }
  if (const int status = RefuseSettings(context, "edit", settings, &before)) return status;
  const std::string previousKey = site->siteKey();
  // The catalog follows its site (see COrvaneDoc::EditSite).
  const SiteChange edited = context.doc.EditSite(*site, settings);
  if (!Saved(context, edited)) return edited == SiteChange::kRefused ? kExitNothing : kExitFailed;
  PrintKey(context, "key", site->siteKey(), "previousKey", previousKey);
  return 0;
}

int RunDelete(CliContext& context, const std::vector<std::string>& args) {
  if (args.size() != 1) return context.UsageError("delete", "give one KEY");
  std::shared_ptr<CFTPSite> site = context.FindSite(args[0]);
  if (!site) {
    return context.Fail(kExitNothing, "orvane-cli delete: no site has the key " + args[0]);
  }
  std::string failure;
  if (!context.doc.DeleteSite(site->siteKey(), &failure)) {
    return context.Fail(kExitNothing, "orvane-cli delete: no site has the key " + args[0]);
  }
  if (!failure.empty()) return context.Fail(kExitFailed, "orvane-cli: could not save " + failure);
  if (context.json) PrintKey(context, "deleted", site->siteKey());
  return kExitSuccess;
}

int RunTree(CliContext& context, const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return context.UsageError("tree", "give KEY [PATH]");
  std::shared_ptr<CFTPSite> site = context.FindSite(args[0]);
  if (!site) {
    return context.Fail(kExitNothing, "orvane-cli tree: no site has the key " + args[0]);
  }
  CFTPDir* start = context.FindDirectory(*site, args.size() == 2 ? args[1] : std::string("/"));
  // Set by the load when content.ct or state.st was there but could not be
  // read in full: what is printed is then not the whole catalog.
  const bool damaged = site->filesIncomplete.load();
  std::string damage = "orvane-cli tree: the stored catalog of " +
                       CliContext::Plain(site->siteKey()) +
                       " could not be read in full (content.ct or state.st is damaged or "
                       "unreadable); an update of the whole site replaces it";
  if (const std::string reason = site->GetLoadResult().reason; !reason.empty()) {
    damage += ": " + CliContext::Escaped(reason);
  }
  if (!start) {
    if (damaged) return context.Fail(kExitFailed, damage);
    return context.Fail(kExitNothing, "orvane-cli tree: no stored directory " + args[1]);
  }

  // The JSON array streams out an element at a time (memory flat in the
  // size of the tree), unless it must wait for main to wrap it in the
  // error of a damaged catalog or site list.
  const bool stream = context.json && !damaged && context.host.loadErrorCount() == 0;
  std::ostream& out = stream ? context.StreamJson() : context.out;
  JsonWriter json;
  json.BeginArray();
  std::size_t printed = 0;
  auto print = [&](const auto& entry, bool isDir, std::uint64_t size) {
    const bool isNew = entry.readState.load() != 0;
    if (stream) {
      JsonWriter element;
      CCliHost::WriteEntry(element.BeginArray(), CliContext::ShownPath(entry),
                           entry.GetDisplayPath(), isDir, size, isNew);
      if (printed++ == 0) {
        out << element.Text();
      } else {
        out << ',' << std::string_view(element.Text()).substr(1);
      }
    } else if (context.json) {
      CCliHost::WriteEntry(json, CliContext::ShownPath(entry), entry.GetDisplayPath(), isDir, size,
                           isNew);
    } else {
      out << (isNew ? '*' : ' ') << '\t' << (isDir ? std::string("<DIR>") : std::to_string(size))
          << '\t' << CliContext::PlainPath(entry) << '\n';
    }
  };

  // Pre-order, each directory's files before its subdirectories; an explicit
  // stack, since stored trees can be deeper than the call stack. Each
  // directory's lists are copied under the site's lock.
  std::vector<CFTPDir*> pending{start};
  std::vector<CFTPDir*> subdirs;
  std::vector<CFTPFile*> files;
  while (!pending.empty()) {
    CFTPDir* dir = pending.back();
    pending.pop_back();
    if (dir != start) print(*dir, true, 0);
    SnapshotChildren(*dir, site.get(), subdirs, files);
    for (const CFTPFile* file : files) {
      print(*file, false, file->size.load());
    }
    for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) pending.push_back(*it);
  }
  if (stream) {
    out << (printed ? "\n]\n" : "[]\n");
  } else if (context.json) {
    out << json.EndArray().Text();
  }
  if (damaged) return context.Fail(kExitFailed, damage);
  return 0;
}

}  // namespace orvane
