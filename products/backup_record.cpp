#include "products/backup_record.h"

#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "payload/link_rule.h"
#include "payload/sha256.h"

#include <nlohmann/json.hpp>

#include <map>

#include <system_error>
#include <vector>

namespace kb {

namespace {

using nlohmann::json;

constexpr const char* recordName = "BACKUP.json";
constexpr const char* runRecordName = "INSTALLATION.json";
constexpr std::uint64_t maxRecordBytes = std::uint64_t{1} << 20;

const char* nameOf(FileType type)
{
    switch (type) {
    case FileType::regular: return "file";
    case FileType::directory: return "folder";
    case FileType::symlink: return "link";
    case FileType::other: break;
    }
    return "other";
}

// Everything below the copied folder `root`, one line per entry in the order
// of their paths (type, mode, and a file's size or a link's text), and
// whether every link leads inside the folder. The walk holds no folder open.
// Files are not read: that would read every byte of a replaced runtime a
// second time in every run, where the listing already tells a backup that
// was changed or filled from elsewhere.
struct FolderListing {
    std::string lines;
    bool linksInside = true;
};
FolderListing listingOf(const std::filesystem::path& root)
{
    const LinkRule rule(root);
    std::map<std::string, std::string> entries;
    std::vector<std::string> folders{""};  // below the root, "/"-separated
    bool linksInside = true;
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        for (const DirectoryEntry& entry : fm->contentsOfDirectory(folder.empty() ? root : root / folder)) {
            const std::string relative = folder.empty() ? entry.name : folder + "/" + entry.name;
            const std::filesystem::path path = root / relative;
            const FileAttributes attributes = fm->attributes(path);
            std::string line = std::string(nameOf(attributes.type)) + " " + std::to_string(attributes.permissions);
            if (attributes.type == FileType::directory) folders.push_back(relative);
            if (attributes.type == FileType::regular) line += " " + std::to_string(attributes.size);
            if (attributes.type == FileType::symlink) {
                const std::string target = fm->destinationOfSymbolicLink(path);
                line += " " + target;
                linksInside = linksInside && rule.judge(relative, target) == LinkVerdict::inside;
            }
            entries[relative] = line;
        }
    }
    FolderListing listing{{}, linksInside};
    for (const auto& [relative, line] : entries) listing.lines += relative + '\0' + line + '\n';
    return listing;
}

// The copy at `path` as a record describes it; `mode` the item's own before
// the run. A folder's digest is its listing's.
SavedCopy pictureOf(const std::filesystem::path& path, unsigned mode, bool* linksInside = nullptr)
{
    const FileAttributes attributes = fm->attributes(path);
    SavedCopy copy{attributes.type, mode, 0, {}, {}};
    if (attributes.type == FileType::regular) copy.size = attributes.size, copy.sha256 = sha256(path);
    if (attributes.type == FileType::symlink) copy.target = fm->destinationOfSymbolicLink(path);
    if (attributes.type == FileType::directory) {
        const FolderListing listing = listingOf(path);
        copy.sha256 = sha256OfBytes(listing.lines);
        if (linksInside) *linksInside = listing.linksInside;
    }
    return copy;
}

}  // namespace

void writeBackupRecord(const Transaction& transaction, const std::filesystem::path& home, const std::string& product)
{
    json items = json::object();
    for (const Transaction::Change& change : transaction.changes()) {
        json copy = nullptr;
        if (change.backup) {
            const unsigned ownMode = fm->attributes(*change.backup).permissions;
            const SavedCopy saved = pictureOf(*change.backup, change.restoredMode.value_or(ownMode));
            copy = {{"type", nameOf(saved.type)}, {"mode", saved.mode}};
            if (saved.type == FileType::regular) copy["size"] = saved.size;
            if (!saved.sha256.empty()) copy["sha256"] = saved.sha256;
            if (saved.type == FileType::symlink) copy["target"] = saved.target;
        }
        const std::string place = std::filesystem::path(change.destination).lexically_relative(home).generic_string();
        items[change.label] = {{"place", place}, {"copy", copy}};
    }
    fm->writeAtomically(transaction.backupRoot() / recordName, jsonData({{"product", product}, {"items", items}}));
}

std::optional<BackupContents> readBackupRecord(const std::filesystem::path& folder)
{
    try {
        const json record = json::parse(readFile(folder / recordName, maxRecordBytes));
        BackupContents contents{folder, record.at("product").get<std::string>(), {}};
        for (const auto& [label, item] : record.at("items").items()) {
            SavedItem saved{item.at("place").get<std::string>(), std::nullopt};
            if (const json& copy = item.at("copy"); !copy.is_null()) {
                const std::string type = copy.at("type");
                SavedCopy& made = saved.copy.emplace();
                made.type = type == "file" ? FileType::regular : type == "folder" ? FileType::directory
                            : type == "link" ? FileType::symlink : FileType::other;
                made.mode = copy.at("mode").get<unsigned>();
                made.size = copy.value("size", std::uint64_t{0});
                made.sha256 = copy.value("sha256", "");
                made.target = copy.value("target", "");
            }
            contents.items.emplace(label, std::move(saved));
        }
        return contents;
    } catch (const std::system_error&) {
        return std::nullopt;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

bool holdsWhatItsRecordSays(const BackupContents& contents)
{
    try {
        for (const DirectoryEntry& entry : fm->contentsOfDirectory(contents.folder)) {
            if (entry.name == recordName || entry.name == runRecordName) continue;
            const auto item = contents.items.find(entry.name);
            if (item == contents.items.end() || !item->second.copy) return false;
        }
        for (const auto& [label, item] : contents.items) {
            if (!item.copy) continue;
            const std::filesystem::path copy = contents.folder / label;
            if (!itemAt(copy)) return false;
            bool linksInside = true;
            if (pictureOf(copy, item.copy->mode, &linksInside) != *item.copy || !linksInside) return false;
        }
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace kb
