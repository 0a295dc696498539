#include "fileops/run_folder.h"

#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "platform/interruption.h"
#include "platform/random_uuid.h"

#include <algorithm>
#include <cctype>
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

std::vector<Path> decodeRecord(std::string_view text)
{
    std::vector<Path> paths;
    for (std::size_t end; (end = text.find('\0')) != std::string_view::npos; text.remove_prefix(end + 1))
        paths.emplace_back(std::string(text.substr(0, end)));
    return paths;
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
// with no items left, removes the folder.
void keepRecordOf(const Path& folder, const Path& home, const std::vector<Path>& items)
{
    if (items.empty()) return fm->removeItem(folder);
    for (const DirectoryEntry& entry : fm->contentsOfDirectory(folder)) {
        if (entry.name != recordName) removed(folder / entry.name);
    }
    fm->writeAtomically(folder / recordName, encodeRecord(home, items));
}

// One folder of an earlier run: left alone while its run lives (or when it
// is not the user's own, private folder); else its scratch items in `home`
// are removed, and the folder with them.
void sweepRun(const Path& folder, const Path& home)
{
    const FileAttributes attributes = fm->attributes(folder);
    if (attributes.type != FileType::directory || !attributes.ownItem || attributes.permissions != 0700) return;
    const std::unique_ptr<FileLock> lock = fm->lockExclusively(folder);
    if (!lock) return;
    if (folder.filename().native().starts_with(startingPrefix)) return fm->removeItem(folder);
    std::vector<Path> record;
    if (itemAt(folder / recordName)) record = decodeRecord(readFile(folder / recordName, maxRecordBytes));
    if (record.empty()) return fm->removeItem(folder);
    const Path& runHome = record.front();
    const bool sameHome = canonicalPath(runHome) == canonicalPath(home);
    std::vector<Path> left;
    for (auto item = record.begin() + 1; item != record.end(); ++item) {
        // Only what a run of ours can have written: a scratch name below its home.
        if (!hasUuidAfter(item->filename().native(), scratchPrefix) || !inside(item->parent_path().native(), runHome.native()))
            continue;
        if (sameHome ? !removed(*item) : itemAt(*item)) left.push_back(*item);
    }
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
            lock_ = fm->lockExclusively(starting);
            if (lock_) {
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
        if (scratchItems_.empty()) {
            fm->removeItem(path_);
        } else {
            keepRecordOf(path_, home_, scratchItems_);
        }
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
