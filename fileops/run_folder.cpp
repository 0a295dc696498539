#include "fileops/run_folder.h"

#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "platform/interruption.h"
#include "platform/random_uuid.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace kb {

namespace {

constexpr std::string_view folderPrefix = "kestrelbay-installer-";
constexpr std::string_view startingPrefix = ".kestrelbay-installer-";
constexpr std::string_view scratchPrefix = ".kestrelbay-install-";
constexpr const char* recordName = ".kestrelbay-run-record";
constexpr std::uint64_t maxRecordBytes = std::uint64_t{1} << 20;

// A UUID in its canonical text form, as randomUUID() writes it.
bool isUuid(std::string_view text)
{
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

bool hasUuidAfter(std::string_view name, std::string_view prefix)
{
    return name.starts_with(prefix) && isUuid(name.substr(prefix.size()));
}

// The record: the home, then every scratch item, each ended by a NUL (which
// no path holds).
std::string encodeRecord(const Path& home, const std::vector<Path>& items)
{
    std::string text = home.native() + '\0';
    for (const Path& item : items) text += item.native() + '\0';
    return text;
}

// A record as this program writes it: a home that is empty (a run that
// changes none) or absolute, then absolute items, each ended by a NUL. Nothing
// for anything else, which may be another program's.
std::optional<std::vector<Path>> decodeRecord(std::string_view text)
{
    std::vector<Path> paths;
    for (std::size_t end; (end = text.find('\0')) != std::string_view::npos; text.remove_prefix(end + 1)) {
        const std::string_view path = text.substr(0, end);
        if (!path.starts_with('/') && !(paths.empty() && path.empty())) return std::nullopt;
        paths.emplace_back(std::string(path));
    }
    if (!text.empty() || paths.empty()) return std::nullopt;
    return paths;
}

// The record of the run folder `folder`, when it holds one this program
// wrote; nothing for a folder without one, or with one that cannot be read
// or is larger than any record of ours.
std::optional<std::vector<Path>> recordIn(const Path& folder)
{
    try {
        return decodeRecord(readFile(folder / recordName, maxRecordBytes));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

// Removes `item`; whether it is gone (or was never there) afterwards.
bool removed(const Path& item)
{
    try {
        if (itemAt(item)) fm->removeItem(item);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Empties `folder` but for its record, which then names `items` alone; or,
// with no items left, removes the folder. The record goes last: a sweep cut
// short leaves a folder that a later one still knows for its own.
void keepRecordOf(const Path& folder, const Path& home, const std::vector<Path>& items)
{
    for (const DirectoryEntry& entry : fm->contentsOfDirectory(folder)) {
        if (entry.name != recordName) removed(folder / entry.name);
    }
    if (items.empty()) return fm->removeItem(folder);
    fm->writeAtomically(folder / recordName, encodeRecord(home, items));
}

// One folder of an earlier run: left alone while its run (or a tool it
// started, which holds the lock too) lives, when it cannot be locked at all,
// when it is not the user's own private folder, and when it holds no record of
// this program's. Else its recorded scratch items in `home` are removed, each
// reached from the home's own folder so that none is ever reached through a
// ".." or a link leading out, and the folder with them.
void sweepRun(const Path& folder, const Path& home)
{
    const FileAttributes attributes = fm->attributes(folder);
    if (attributes.type != FileType::directory || !attributes.ownItem || attributes.permissions != 0700) return;
    const std::unique_ptr<FileLock> lock = fm->lockExclusively(folder);
    if (!lock) return;
    // A run killed before it took its folder's final name made nothing else.
    if (folder.filename().native().starts_with(startingPrefix)) {
        for (const DirectoryEntry& entry : fm->contentsOfDirectory(folder)) {
            if (entry.name != recordName) return;
        }
        return fm->removeItem(folder);
    }
    const std::optional<std::vector<Path>> record = recordIn(folder);
    if (!record) return;
    const Path& runHome = record->front();
    const bool sameHome = !runHome.empty() && canonicalPath(runHome) == canonicalPath(home);
    const std::unique_ptr<Confinement> sealed = sameHome ? fm->confine(runHome) : nullptr;
    std::vector<Path> left;
    for (auto item = record->begin() + 1; item != record->end(); ++item) {
        // Only what a run of ours can have written: a scratch name below its home.
        if (!hasUuidAfter(item->filename().native(), scratchPrefix) || !inside(item->parent_path().native(), runHome.native()))
            continue;
        if (sameHome ? !removed(*item) : itemAt(*item)) left.push_back(*item);
    }
    if (!left.empty() && left.size() + 1 == record->size()) return;  // nothing could go: the folder stays as it is
    keepRecordOf(folder, runHome, left);
}

}  // namespace

Path scratchItemBeside(const Path& item)
{
    return item.parent_path() / (std::string(scratchPrefix) + randomUUID());
}

RunFolder::RunFolder(const Path& temporary) : temporary_(temporary)
{
    // Made under a name of its own and renamed once locked, so that a folder
    // under its final name is never one whose run has not taken its lock yet.
    // A folder under the first name that is not locked belongs to a run that
    // was killed right there, or to one about to lock it: a sweep removes it
    // either way, and the run that loses its folder so starts again.
    for (int attempt = 1;; ++attempt) {
        const std::string id = randomUUID();
        const Path starting = temporary / (std::string(startingPrefix) + id);
        path_ = temporary / (std::string(folderPrefix) + id);
        makeDir(starting, true);
        try {
            bool lockable = true;
            try {
                lock_ = fm->lockExclusively(starting);
            } catch (const std::system_error& error) {
                // A temporary folder on a file system without locks: the run
                // goes on unlocked, as where the home cannot be locked, and
                // sweeps leave such folders alone, as they cannot lock them.
                if (error.code() == std::errc::no_such_file_or_directory) throw;
                lockable = false;
            }
            if (lock_ || !lockable) {
                // A folder under its final name always holds a record.
                fm->writeAtomically(starting / recordName, encodeRecord({}, {}));
                fm->moveItem(starting, path_);
                return;
            }
        } catch (const std::system_error& error) {
            if (error.code() != std::errc::no_such_file_or_directory || attempt == 3) {
                removed(starting);
                throw;
            }
        }
        lock_.reset();
    }
}

RunFolder::~RunFolder()
{
    holdInterruptions();
    try {
        std::erase_if(scratchItems_, removed);
        keepRecordOf(path_, home_, scratchItems_);
    } catch (...) {
        // A folder that cannot be removed is swept by a later run.
    }
}

void RunFolder::writeRecord()
{
    fm->writeAtomically(path_ / recordName, encodeRecord(home_, scratchItems_));
}

void RunFolder::recordHome(const Path& home)
{
    home_ = home;
    writeRecord();
}

void RunFolder::recordScratchItem(const Path& item)
{
    scratchItems_.push_back(item);
    // The record stays small enough for a sweep to read: items that are gone
    // by now are dropped first, and an item that finds no room is refused.
    if (encodeRecord(home_, scratchItems_).size() > maxRecordBytes) {
        std::erase_if(scratchItems_, [&item](const Path& recorded) { return recorded != item && !itemAt(recorded); });
        if (encodeRecord(home_, scratchItems_).size() > maxRecordBytes) {
            scratchItems_.pop_back();
            throwSystemError(EFBIG, "record the scratch item", item);
        }
    }
    writeRecord();
}

void RunFolder::sweepAbandonedRuns()
{
    try {
        for (const DirectoryEntry& entry : fm->contentsOfDirectory(temporary_)) {
            const Path folder = temporary_ / entry.name;
            if (!hasUuidAfter(entry.name, folderPrefix) && !hasUuidAfter(entry.name, startingPrefix)) continue;
            if (folder == path_) continue;
            try {
                sweepRun(folder, home_);
            } catch (const std::exception&) {
                // Another run's leftovers never decide this run's outcome.
            }
        }
    } catch (const std::exception&) {
    }
}

}  // namespace kb
