// Per-site settings that site.ds's layout cannot hold, and the record of a
// site's "auto" character set decision.
//
// site.ds stays byte for byte the archive encoding, so a setting it has no
// field for lives in sites.opt beside it: one record of key=value lines per
// site key (the character set of the site's names, its protocol, start
// directory, key file and the fingerprint of the server key the user
// accepted; the record is generic, so later settings add keys, and keys
// this version does not know are kept and written back). sites.opt is
// written under the site-list lock together with site.ds (see
// COrvaneDoc::SaveSiteList), so its records move with key changes and
// leave with deletes. A data directory without it reads as every site
// "auto", plain FTP from "/".
//
// Data/KEY/charset.txt records what "auto" decided for the site's catalog
// and the server's FEAT answer it was decided with. It is written when an
// update succeeds, under the site's files lock, and moves and goes with the
// data directory like the catalog (kSiteFileNames).
//
// Both files are text: a version line, key=value lines, "end". Grammar and
// limits in catalog/site_options.md. The readers trust nothing and return
// their error as a value.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/name_charset.h"
#include "catalog/site_protocol.h"

namespace orvane {

inline constexpr std::string_view kSiteOptionsFileName = "sites.opt";
inline constexpr std::string_view kCharsetRecordFileName = "charset.txt";

// The lines of a key=value file: KEY is 1-64 of a-z, 0-9 and "-"; VALUE is
// bytes, with bytes below 0x20, 0x7F and "%" written as "%XX".
using KeyValues = std::vector<std::pair<std::string, std::string>>;

// The value escape these records (and health.txt) share: bytes below 0x20,
// 0x7F and "%" as "%XX" (upper-case hex), everything else as it is. The
// reader takes only the escapes the writer makes.
bool NeedsRecordEscape(unsigned char c);
void AppendRecordEscaped(std::string& out, std::string_view text);
bool RecordUnescape(std::string_view text, std::string& out);

struct SiteOptions {
  NameCharset charset = NameCharset::kAuto;
  // Protocol, start directory, key file, pin: a default is not written.
  SiteAccess access;
  // Keys of later versions, as read, written back unchanged.
  KeyValues other;
  bool operator==(const SiteOptions&) const = default;
};

struct SiteOptionsList {
  // Site key (the stored bytes) and its options, in file order; each key once.
  std::vector<std::pair<std::string, SiteOptions>> sites;
  const SiteOptions* Find(std::string_view key) const;
};

struct SiteOptionsRead {
  SiteOptionsList list;
  std::string error;  // empty when the whole file was read
  bool ok() const { return error.empty(); }
};

std::string EncodeSiteOptions(const SiteOptionsList& list);
SiteOptionsRead DecodeSiteOptions(std::string_view bytes);
// DIR/sites.opt; a missing file is an empty list (no error). Takes no
// lock, creates nothing.
SiteOptionsRead ReadSiteOptions(const std::filesystem::path& dataDir);
// Replaces DIR/sites.opt atomically (owner-only, like site.ds). The caller
// holds the site-list lock.
bool WriteSiteOptions(const std::filesystem::path& dataDir, const SiteOptionsList& list,
                      std::string* error = nullptr);

// What "auto" decided for a site's names.
struct CharsetDecision {
  NameCharset decided = NameCharset::kUtf8;
  ServerUtf8 server = ServerUtf8::kUnknown;
  bool operator==(const CharsetDecision&) const = default;
};
std::string EncodeCharsetDecision(const CharsetDecision& decision);
std::optional<CharsetDecision> DecodeCharsetDecision(std::string_view bytes);
// The record in a site's data directory; nothing when it is missing or
// not valid.
std::optional<CharsetDecision> ReadCharsetDecision(const std::filesystem::path& siteDir);
// Replaces the record atomically; the caller holds the site's files lock.
bool WriteCharsetDecision(const std::filesystem::path& siteDir, const CharsetDecision& decision,
                          std::string* error = nullptr);

// "claimed", "not-claimed" or "unknown".
std::string_view ServerUtf8Name(ServerUtf8 server);
// What a FEAT reply (one feature a line) says about UTF-8.
ServerUtf8 ServerUtf8FromFeatures(std::string_view features);

}  // namespace orvane
