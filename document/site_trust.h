// Accepting a server's key for a site: what `orvane-cli trust` and the
// window's certificate dialog do once the user has said yes.
//
// A TLS certificate's public key is pinned in the site's record in
// sites.opt (SiteAccess::pin): from then on the session accepts that key
// and no other. An SSH host key goes to the data directory's known-hosts
// file, where the SFTP session looks for it, and its fingerprint to the
// pin as well, so that the site shows what was accepted and a later
// change names both keys; the host key being the server's, every site on
// the same host and port gets that pin.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/ftp_site.h"
#include "document/orvane_doc.h"

namespace orvane {

// Whether a site changed from `before` to `after` still reaches the server
// whose key was accepted: same host, connection port and protocol. When
// not, its pin is dropped.
bool SameServer(const SiteSettings& before, const SiteSettings& after);

// Pins `presented` for `site` (see above): kSaved when it is, kRefused
// while the site is being updated, kNotSaved or kFailed (with why in
// `error`) when a file could not be written.
SiteChange TrustPresentedKey(COrvaneDoc& doc, CFTPSite& site, const PresentedKey& presented,
                             std::string* error);

}  // namespace orvane
