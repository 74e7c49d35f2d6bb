// trust: connects to a site, shows the certificate or host key its server
// presents and, once the user (or a script's --fingerprint / --yes) has
// accepted it, pins it for the site (document/site_trust.h).
//
// Nothing that names the user goes to a server that is not trusted, so the
// connection ends at the key when it is not; a key the system or the pin
// already trusts is logged in with and reported as trusted. On a terminal
// the user is asked; without one nothing is waited for: only
// --fingerprint (which must be the presented key) or --yes accepts.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "document/json_writer.h"
#include "document/orvane_doc.h"
#include "document/site_trust.h"
#include "update/update_engine.h"

namespace orvane {

namespace {

// A fingerprint without its base64 padding, so that both forms compare.
std::string_view Unpadded(std::string_view fingerprint) {
  while (fingerprint.ends_with('=')) fingerprint.remove_suffix(1);
  return fingerprint;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (const std::string_view line = text.substr(0, end); !line.empty()) {
      lines.push_back(CliContext::Escaped(line));
    }
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

void PrintKey(CliContext& context, const CFTPSite& site, const PresentedKey& presented,
              bool trusted, bool pinned) {
  const std::vector<std::string> details = Lines(presented.details);
  if (context.json) {
    JsonWriter json;
    json.BeginObject()
        .Key("key")
        .String(CliContext::Shown(site.siteKey()))
        .Key("protocol")
        .String(ProtocolName(site.Protocol()))
        .Key("fingerprint")
        .String(presented.fingerprint)
        .Key("previousFingerprint");
    if (presented.pinned.empty()) {
      json.Raw("null");
    } else {
      json.String(presented.pinned);
    }
    json.Key("details").BeginArray();
    for (const std::string& line : details) json.String(line);
    json.EndArray().Key("problem").String(CliContext::Escaped(presented.problem));
    json.Key("trusted").Bool(trusted).Key("pinned").Bool(pinned);
    context.out << json.EndObject().Text();
    return;
  }
  std::ostream& out = context.out;
  out << "site:        " << CliContext::Plain(site.siteKey()) << " ("
      << ProtocolName(site.Protocol()) << ", port " << site.ConnectionPort() << ")\n";
  for (const std::string& line : details) out << "             " << line << '\n';
  out << "fingerprint: " << presented.fingerprint << '\n';
  if (!presented.problem.empty()) {
    out << "not trusted: " << CliContext::Escaped(presented.problem) << '\n';
  }
  if (!presented.pinned.empty()) {
    out << "WARNING:     the key has changed; the one accepted before is " << presented.pinned
        << '\n';
  }
  out << std::flush;
}

// Asks on the terminal; true for "y" or "yes".
bool Confirmed(CliContext& context, const CFTPSite& site) {
  context.err << "Accept this key for " << CliContext::Plain(site.siteKey()) << "? [y/N] "
              << std::flush;
  bool tooLong = false;
  const std::optional<std::string> answer = ReadLineFromStdin(tooLong);
  return answer && !tooLong && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

}  // namespace

int RunTrust(CliContext& context, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"fingerprint"}, {"yes"}, parsed, error)) {
    return context.UsageError("trust", error);
  }
  if (parsed.positional.size() != 1) return context.UsageError("trust", "give one KEY");
  const std::string* expected = parsed.Value("fingerprint");
  if (expected && !IsKeyFingerprint(*expected)) {
    return context.UsageError("trust", "--fingerprint takes SHA256: and the key's base64 digest");
  }
  std::shared_ptr<CFTPSite> site = context.FindSite(parsed.positional[0]);
  if (!site) {
    return context.Fail(kExitNothing,
                        "orvane-cli trust: no site has the key " + parsed.positional[0]);
  }
  const SiteAccess access = site->Access();
  if (access.protocol == SiteProtocol::kFtp) {
    return context.UsageError("trust", "the site speaks plain FTP: its server has no key to trust");
  }
  const FtpLogin login = LoginFor(*site, context.doc.GetProgramDir());
  const std::unique_ptr<CListingSession> session = MakeListingSession(login.protocol);
  if (!session) {
    return context.Fail(kExitFailed, "orvane-cli trust: this build cannot reach " +
                                         std::string(ProtocolName(login.protocol)) + " sites");
  }
  const FtpResult opened = session->Open(login, FtpTimeouts{});
  PresentedKey presented = PresentedKeyOf(session->peer(), access, login);
  session->Close();
  if (opened.ok()) {
    // Trusted by the system's store, the user's own known hosts, or the pin.
    if (expected && Unpadded(*expected) != Unpadded(presented.fingerprint)) {
      PrintKey(context, *site, presented, true, false);
      return context.Fail(kExitFailed, "orvane-cli trust: the server presents " +
                                           presented.fingerprint + ", not " + *expected);
    }
    PrintKey(context, *site, presented, true, false);
    if (!context.json) context.out << "trusted already; nothing to pin\n";
    return kExitSuccess;
  }
  if (opened.outcome != FtpOutcome::kUntrusted) {
    return context.Fail(kExitFailed, "orvane-cli trust: " + CliContext::Plain(site->siteKey()) +
                                         ": " + CliContext::Escaped(opened.errorText));
  }
  if (presented.fingerprint.empty()) {
    return context.Fail(kExitFailed, "orvane-cli trust: the server presented no key");
  }
  // Shown before the question; otherwise with the outcome.
  bool shown = false;
  if (expected) {
    if (Unpadded(*expected) != Unpadded(presented.fingerprint)) {
      PrintKey(context, *site, presented, false, false);
      return context.Fail(kExitFailed, "orvane-cli trust: the server presents " +
                                           presented.fingerprint + ", not " + *expected +
                                           "; nothing was pinned");
    }
  } else if (!parsed.Has("yes")) {
    PrintKey(context, *site, presented, false, false);
    shown = true;
    if (!::isatty(STDIN_FILENO) || context.json) {
      return context.Fail(kExitFailed,
                          "orvane-cli trust: nobody to ask (standard input is not a terminal, "
                          "or --json): give --fingerprint SHA256:... or --yes to accept the "
                          "key; nothing was pinned");
    }
    if (!Confirmed(context, *site)) {
      return context.Fail(kExitNothing, "orvane-cli trust: not accepted; nothing was pinned");
    }
  }
  std::string pinError;
  const SiteChange change = TrustPresentedKey(context.doc, *site, presented, &pinError);
  if (change != SiteChange::kSaved) {
    if (change == SiteChange::kRefused) pinError = "the site is being updated";
    return context.Fail(kExitFailed, "orvane-cli trust: could not pin the key: " + pinError);
  }
  if (!shown) PrintKey(context, *site, presented, false, true);
  if (!context.json) {
    context.out << "pinned " << presented.fingerprint << " for "
                << CliContext::Plain(site->siteKey()) << '\n';
  }
  return kExitSuccess;
}

}  // namespace orvane
