#include "payload/verifier.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "fileops/process.h"
#include "payload/manifest.h"
#include "payload/paths.h"
#include "payload/sha256.h"
#include "core/unicode.h"
#include "platform/file_manager.h"
#include "platform/resource.h"
#include "platform/system_tools.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kb {

namespace {

// Names the walk passes over wherever they lie (Finder's metadata files).
bool ignoredName(std::string_view name)
{
    return name.starts_with("._") || name == ".DS_Store";
}

// The manifest with every text that is compared, keys included, in NFC, so
// plain string equality honours Unicode canonical equivalence. Keys that are
// canonically equivalent collapse into one, as they are one key.
struct Expected {
    struct File {
        FileEntry entry;
        bool found = false;
    };
    struct Link {
        std::string target;
        bool found = false;
    };
    std::unordered_map<std::string, File> files;
    std::unordered_map<std::string, Link> links;
    std::size_t filesFound = 0;
    std::size_t linksFound = 0;

    // Takes the manifest apart entry by entry, so that the two are never
    // held in full side by side.
    explicit Expected(PayloadManifest manifest)
    {
        files.reserve(manifest.files.size());
        while (!manifest.files.empty()) {
            auto node = manifest.files.extract(manifest.files.begin());
            FileEntry& entry = node.mapped();
            files.insert_or_assign(composed(std::move(node.key())),
                                   File{{composed(std::move(entry.sha256)), entry.size}, false});
        }
        links.reserve(manifest.symlinks.size());
        while (!manifest.symlinks.empty()) {
            auto node = manifest.symlinks.extract(manifest.symlinks.begin());
            links.insert_or_assign(composed(std::move(node.key())), Link{composed(std::move(node.mapped())), false});
        }
    }

    // NFC without a copy for the common case of plain ASCII.
    static std::string composed(std::string&& text)
    {
        for (char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80) return nfc(text);
        }
        return std::move(text);
    }
};

// Where the target text of a link that cannot be resolved leads: the text
// taken against the link's own (canonical) folder, or as it stands when it is
// absolute, with "." and ".." folded on the text alone.
std::string danglingDestination(const std::string& canonicalFolder, const std::string& target)
{
    if (target.starts_with('/')) return standardizedPath(target);
    return standardizedPath(canonicalFolder + "/" + target);
}

// One folder of the walk with the entries not yet visited. Its canonical
// path is computed once: the canonical root for the payload root, and for a
// real folder below it (never a link: links are not entered) the canonical
// path of its parent and its own name, which is what realpath would give.
struct Folder {
    Path path;                // as walked, below the payload root as built
    std::string canonical;    // canonical path, the parent of this folder's entries
    std::string relative;     // relative path below the payload root, "" for the root
    std::string relativeNfc;  // the same in NFC
    std::vector<DirectoryEntry> entries;
    std::size_t next = 0;
};

void checkSymbolicLink(const Path& path, const std::string& entryPath, const Folder& folder,
                       const std::string& relativeNfc, const std::string& rootPrefixNfc, Expected& expected)
{
    auto listed = expected.links.find(relativeNfc);
    if (listed == expected.links.end()) throw InstallError(messages::invalidLink);

    const std::string target = fm->destinationOfSymbolicLink(path);
    if (nfc(target) != listed->second.target) throw InstallError(messages::invalidLink);

    // A link that resolves is judged by its real destination (every further
    // link followed); one that does not by where its text leads.
    const std::optional<std::string> resolved = resolvedPath(entryPath);
    const std::string destination = resolved ? *resolved : danglingDestination(folder.canonical, target);
    if (!nfc(destination).starts_with(rootPrefixNfc)) throw InstallError(messages::invalidLink);

    if (!listed->second.found) {
        listed->second.found = true;
        ++expected.linksFound;
    }
}

void checkRegularFile(const Path& path, std::uint64_t size, const std::string& relative,
                      const std::string& relativeNfc, Expected& expected)
{
    auto listed = expected.files.find(relativeNfc);
    if (listed == expected.files.end()) throw InstallError(messages::checkFailed(relative));
    if (size != listed->second.entry.size) throw InstallError(messages::checkFailed(relative));
    if (sha256(path) != listed->second.entry.sha256) throw InstallError(messages::checkFailed(relative));

    if (!listed->second.found) {
        listed->second.found = true;
        ++expected.filesFound;
    }
}

}  // namespace

std::filesystem::path verifyPayload(const Product& product, const std::filesystem::path& unpackFolder)
{
    // 1-3: the archive's own digest, before anything is written.
    const std::filesystem::path archive = resource / "payload.zip";
    if (sha256(archive) != nfc(product.payloadSHA256)) throw InstallError(messages::damagedArchive);

    // 4-5: a private folder, and the archive unpacked into it.
    makeDir(unpackFolder, true);
    process(systemTool("ditto"), {"--norsrc", "-x", "-k", archive.native(), unpackFolder.native()}, true);

    // 6: the payload root as built, and the canonical prefix every entry must have.
    const std::filesystem::path payloadRoot = unpackFolder / product.payloadRoot;
    const std::string canonicalRoot = canonicalPath(payloadRoot);
    const std::string rootPrefix = canonicalRoot + "/";
    const std::string rootPrefixNfc = nfc(rootPrefix);

    // 7-8: the manifest from the resource folder, never from the payload.
    Expected expected(readManifest(resource / "payload-manifest.json"));

    // 9: depth first, each folder before its contents, siblings in name
    // order; links are reported and never followed. A root that resolves
    // outside the unpack folder (named with "..", absolute, or reached
    // through a link the archive holds) is not the payload's and is never
    // walked; nor is one whose name holds a NUL, which the platform would cut
    // short there, so that every path below it named the root again.
    const std::string canonicalUnpack = canonicalPath(unpackFolder);
    if (product.payloadRoot.find('\0') != std::string::npos ||
        (canonicalRoot != canonicalUnpack && !canonicalRoot.starts_with(canonicalUnpack + "/"))) {
        throw InstallError(messages::contentMissing);
    }
    std::vector<Folder> walk;
    try {
        walk.push_back({payloadRoot, canonicalRoot, {}, {}, fm->contentsOfDirectory(payloadRoot)});
    } catch (const std::system_error&) {
        throw InstallError(messages::contentMissing);
    }

    // 10: every entry in walk order.
    while (!walk.empty()) {
        Folder& folder = walk.back();
        if (folder.next == folder.entries.size()) {
            walk.pop_back();
            continue;
        }
        const DirectoryEntry& entry = folder.entries[folder.next++];
        const Path path = folder.path / entry.name;

        // 10.1-10.3: the entry itself is not resolved.
        std::string entryPath = folder.canonical + "/" + entry.name;
        if (!entryPath.starts_with(rootPrefix)) throw InstallError(messages::invalidPath);
        std::string relative = entryPath.substr(rootPrefix.size());
        std::string relativeNfc = folder.relative.empty() ? nfc(entry.name) : folder.relativeNfc + "/" + nfc(entry.name);

        // 10.4: passed over, though a folder so named is still entered.
        if (!ignoredName(entry.name)) {
            if (!safeRelative(relative)) throw InstallError(messages::invalidPath);  // 10.5
            const FileAttributes attributes = fm->attributes(path);      // 10.6
            if (attributes.type == FileType::symlink) {                   // 10.7
                checkSymbolicLink(path, entryPath, folder, relativeNfc, rootPrefixNfc, expected);
            } else if (attributes.type == FileType::regular) {            // 10.8
                checkRegularFile(path, attributes.size, relative, relativeNfc, expected);
            }
            // 10.9: folders and special files: nothing to examine.
        }

        // Descend into real folders only; one that cannot be listed is passed over.
        if (entry.type == FileType::directory) {
            std::vector<DirectoryEntry> entries;
            try {
                entries = fm->contentsOfDirectory(path);
            } catch (const std::system_error&) {
                continue;
            }
            walk.push_back({path, std::move(entryPath), std::move(relative), std::move(relativeNfc), std::move(entries)});
        }
    }

    // 11: whatever the manifest lists but the walk did not find.
    if (expected.filesFound != expected.files.size()) throw InstallError(messages::incomplete);
    if (expected.linksFound != expected.links.size()) throw InstallError(messages::incomplete);

    return payloadRoot;  // 12
}

}  // namespace kb
