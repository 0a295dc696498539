#pragma once

#include "core/product.h"
#include "core/progress.h"
#include "fileops/run_folder.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kb {

// Proves the bundle's payload intact and complete before anything is
// installed: the archive's digest, then every unpacked file and link against
// the manifest. Unpacks into the run's folder (the unpack tool holding its
// lock while it writes there) and returns the payload root inside it, as
// built (not resolved).
//
// A link must be listed with its text and lead strictly below the canonical
// payload root by the rule in payload/link_rule.h, the root's canonical path
// given: once installed, a link leading elsewhere would reach the user's own
// files.
//
// A payload root that does not resolve to the unpack folder or a place below
// it (a root named with "..", an absolute one, or one reached through a link
// the archive holds) is never walked: "Paketinhalt fehlt.", as for a root
// that cannot be listed (a root that is itself a link cannot).
//
// `items` are the paths below the root of the items the product's recipe puts
// in place each on its own: an item that is a link, or a link in an item that
// leads out of it, would lead nowhere once installed and is refused too.
// Special files and Finder's files, which no manifest names, are taken out of
// the unpacked payload, so that what is installed is what was verified.
//
// Tells `progress` of its three steps: the archive's digest (its bytes), the
// unpacking, and the files' digests (the bytes the manifest lists).
//
// Names, link texts and digests compare under Unicode canonical equivalence
// (both sides in NFC). Throws InstallError with the verifier's own messages, or
// the platform's, the JSON library's or the command runner's own error.
std::filesystem::path verifyPayload(const Product& product, const RunFolder& run, const std::vector<std::string>& items,
                                    Progress& progress);

}  // namespace kb
