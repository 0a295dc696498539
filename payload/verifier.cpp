#include "payload/verifier.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/unicode.h"
#include "fileops/file_helpers.h"
#include "fileops/process.h"
#include "payload/link_rule.h"
#include "payload/manifest.h"
#include "payload/sha256.h"
#include "platform/file_manager.h"
#include "platform/resource.h"
#include "platform/system_tools.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kb {

namespace {

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

    // Counts an entry as found the first time the walk meets it.
    template <class Entry>
    static void markFound(Entry& entry, std::size_t& count)
    {
        if (entry.found) return;
        entry.found = true;
        ++count;
    }

    // The bytes of every file listed, as far as a 64-bit count goes.
    std::uint64_t bytes() const
    {
        std::uint64_t total = 0;
        for (const auto& [path, file] : files) total += std::min(file.entry.size, UINT64_MAX - total);
        return total;
    }

    // Whatever the manifest lists but the walk did not find.
    void requireAllFound() const
    {
        if (filesFound != files.size() || linksFound != links.size()) throw InstallError(messages::incomplete);
    }
};

// A piece of a digest, told to the progress.
auto counted(Progress& progress)
{
    return [&progress](std::span<const std::byte> piece) { progress.advance(piece.size()); };
}

// The archive's own digest against the descriptor's, before anything is
// written. Its size is only for the progress: an archive that cannot be
// looked at fails as it is opened.
void checkArchiveDigest(const Path& archive, const Product& product, Progress& progress)
{
    std::uint64_t size = 0;
    try {
        size = fm->attributes(archive).size;
    } catch (const std::system_error&) {
    }
    progress.begin(Step::digest, size);
    if (sha256(archive, counted(progress)) != nfc(product.payloadSHA256)) throw InstallError(messages::damagedArchive);
}

// A private folder, and the archive unpacked into it by the system's ditto,
// which holds the folder's lock while it writes there.
void unpackArchive(const Path& archive, const Path& unpackFolder, const FileLock* lock)
{
    makeDir(unpackFolder, true);
    process(systemTool("ditto"), {"--norsrc", "-x", "-k", archive.native(), unpackFolder.native()}, true, lock);
}

// A root that resolves outside the unpack folder (named with "..", absolute,
// or reached through a link the archive holds) is not the payload's and is
// never walked; nor is one whose name holds a NUL, which the platform would
// cut short there, so that every path below it named the root again.
void requireRootInUnpackFolder(const Product& product, const std::string& canonicalRoot, const Path& unpackFolder)
{
    const std::string canonicalUnpack = canonicalPath(unpackFolder);
    if (product.payloadRoot.find('\0') != std::string::npos ||
        (canonicalRoot != canonicalUnpack && !canonicalRoot.starts_with(canonicalUnpack + "/"))) {
        throw InstallError(messages::contentMissing);
    }
}

// One folder of the walk with the entries not yet visited. Links are never
// entered, so a folder's path below the root is its parent's and its name.
struct Folder {
    Path path;                // as walked, below the payload root as built
    std::string relative;     // relative path below the payload root, "" for the root
    std::string relativeNfc;  // the same in NFC
    std::vector<DirectoryEntry> entries;
    std::size_t next = 0;
};

// The walk over the unpacked payload, checking every entry against the
// manifest on the way: depth first, each folder before its contents,
// siblings in name order. Links are checked and never followed.
class PayloadWalk {
public:
    PayloadWalk(const Path& root, const std::string& canonicalRoot, Expected& expected,
                const std::vector<std::string>& items, Progress& progress)
        : links_(root, canonicalRoot), expected_(expected), progress_(progress)
    {
        for (const std::string& item : items) itemLinks_.push_back({item, LinkRule(root / item, canonicalRoot + "/" + item)});
        // A root that is no folder (a file, a link, nothing) or cannot be
        // listed holds no payload.
        try {
            if (fm->attributes(root).type != FileType::directory) throw InstallError(messages::contentMissing);
            folders_.push_back({root, {}, {}, fm->contentsOfDirectory(root)});
        } catch (const std::system_error&) {
            throw InstallError(messages::contentMissing);
        }
    }

    void run()
    {
        while (!folders_.empty()) {
            Folder& folder = folders_.back();
            if (folder.next == folder.entries.size()) {
                folders_.pop_back();
                continue;
            }
            visit(folder, folder.entries[folder.next++]);
        }
    }

private:
    // Checks one entry and, for a real folder, puts it on the walk (after
    // which `folder` and `entry` are no longer used).
    void visit(const Folder& folder, const DirectoryEntry& entry)
    {
        // A path longer than the system can name could be neither checked nor installed.
        if (folder.path.native().size() + entry.name.size() >= PATH_MAX) throw InstallError(messages::invalidPath);
        std::string relative = folder.relative.empty() ? entry.name : folder.relative + "/" + entry.name;
        std::string relativeNfc =
            folder.relative.empty() ? nfc(entry.name) : folder.relativeNfc + "/" + nfc(entry.name);
        Path path = folder.path / entry.name;

        // Finder's files are passed over, though a folder so named is still
        // entered; being in no manifest, they are taken out of the payload.
        if (!ignoredName(entry.name)) {
            check(path, relative, relativeNfc);
        } else if (entry.type != FileType::directory) {
            fm->removeItem(path);
        }
        if (entry.type == FileType::directory) {
            descend(std::move(path), std::move(relative), std::move(relativeNfc));
        }
    }

    // Folders hold nothing to examine. Special files (FIFOs, sockets, devices
    // an unpack tool left) are in no manifest: they are taken out of the
    // payload, so that nothing is installed that the manifest does not name.
    void check(const Path& path, const std::string& relative, const std::string& relativeNfc)
    {
        if (!safeRelative(relative)) throw InstallError(messages::invalidPath);
        const FileAttributes attributes = fm->attributes(path);
        if (attributes.type == FileType::symlink) {
            checkSymbolicLink(path, relative, relativeNfc);
        } else if (attributes.type == FileType::regular) {
            checkRegularFile(path, attributes.size, relative, relativeNfc);
        } else if (attributes.type == FileType::other) {
            fm->removeItem(path);
        }
    }

    // Listed with the same text (in NFC), and leading inside the payload root.
    void checkSymbolicLink(const Path& path, const std::string& relative, const std::string& relativeNfc)
    {
        auto listed = expected_.links.find(relativeNfc);
        if (listed == expected_.links.end()) throw InstallError(messages::invalidLink);
        const std::string target = fm->destinationOfSymbolicLink(path);
        if (nfc(target) != listed->second.target) throw InstallError(messages::invalidLink);
        if (links_.judge(relative, target) != LinkVerdict::inside) throw InstallError(messages::invalidLink);
        // An item the recipe installs on its own must be no link, and a link
        // in it must lead inside it: it would lead nowhere once installed.
        for (const auto& [item, rule] : itemLinks_) {
            if (relative == item) throw InstallError(messages::invalidLink);
            if (relative.starts_with(item + "/") && rule.judge(relative.substr(item.size() + 1), target) != LinkVerdict::inside)
                throw InstallError(messages::invalidLink);
        }
        Expected::markFound(listed->second, expected_.linksFound);
    }

    // Listed with the same size and digest; the size is compared first, so a
    // file of the wrong size is never read.
    void checkRegularFile(const Path& path, std::uint64_t size, const std::string& relative,
                          const std::string& relativeNfc)
    {
        auto listed = expected_.files.find(relativeNfc);
        if (listed == expected_.files.end()) throw InstallError(messages::checkFailed(relative));
        if (size != listed->second.entry.size) throw InstallError(messages::checkFailed(relative));
        if (sha256(path, counted(progress_)) != listed->second.entry.sha256) throw InstallError(messages::checkFailed(relative));
        Expected::markFound(listed->second, expected_.filesFound);
    }

    // A folder that cannot be listed is passed over.
    void descend(Path path, std::string relative, std::string relativeNfc)
    {
        std::vector<DirectoryEntry> entries;
        try {
            entries = fm->contentsOfDirectory(path);
        } catch (const std::system_error&) {
            return;
        }
        folders_.push_back(
            {std::move(path), std::move(relative), std::move(relativeNfc), std::move(entries)});
    }

    const LinkRule links_;
    std::vector<std::pair<std::string, LinkRule>> itemLinks_;  // the items the recipe installs, each with its rule
    Expected& expected_;
    Progress& progress_;
    std::vector<Folder> folders_;
};

}  // namespace

std::filesystem::path verifyPayload(const Product& product, const RunFolder& run, const std::vector<std::string>& items,
                                    Progress& progress)
{
    const Path archive = resource / "payload.zip";
    const Path unpackFolder = run.unpackFolder();
    checkArchiveDigest(archive, product, progress);
    progress.begin(Step::unpack);
    unpackArchive(archive, unpackFolder, run.lock());

    // The payload root as built, which is what is returned, and its canonical path.
    const Path payloadRoot = unpackFolder / product.payloadRoot;
    const std::string canonicalRoot = canonicalPath(payloadRoot);

    // The manifest from the resource folder, never from the payload.
    Expected expected(readManifest(resource / "payload-manifest.json"));

    requireRootInUnpackFolder(product, canonicalRoot, unpackFolder);
    progress.begin(Step::check, expected.bytes());
    PayloadWalk(payloadRoot, canonicalRoot, expected, items, progress).run();
    expected.requireAllFound();
    return payloadRoot;
}

}  // namespace kb
