#pragma once
// What a payload folder holds, in the order it is bundled.

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kb::bundle {

struct PayloadItem {
    enum class Kind { folder, file, link };
    Kind kind = Kind::file;
    std::string relative;    // below the payload root, components joined by "/"
    mode_t permissions = 0;  // permission bits only
    std::string linkTarget;  // a link's stored text
};

// Every folder, file and link below `root` (not the root itself), each folder
// before its contents, siblings in byte order of their names; files and links
// with ignored names (core/paths.h) are left out, as the verifier passes them
// over, while a folder so named is kept with its contents, which it checks. Throws
// std::runtime_error for anything the installer's verification would refuse
// or that a ZIP archive cannot carry: special files (FIFOs, sockets,
// devices), names or link texts that are not UTF-8, and links that lead
// outside the payload root by the link rule (payload/link_rule.h), applied
// without knowing where the root will lie. Links are looked up through `fm`.
// `installed` are the items the product's recipe puts in place on its own:
// links that would lead nowhere once they are (see payload/verifier.h) are
// refused too.
std::vector<PayloadItem> scanPayload(const std::filesystem::path& root, const std::vector<std::string>& installed);

}  // namespace kb::bundle
