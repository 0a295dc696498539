#include "fileops/transaction.h"

#include "fileops/file_helpers.h"
#include "fileops/run_folder.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"

#include <exception>
#include <string_view>
#include <system_error>

namespace kb {

namespace {

// Removes the scratch item when replace() leaves by an exception (a
// replacement that succeeds has renamed or removed it already). A signal is
// only noted from then on, so that the removal runs; its failure is not
// reported, as this clean-up must never hide the real outcome.
class ScratchCleanup {
public:
    explicit ScratchCleanup(Path path) : path_(std::move(path)) {}
    ~ScratchCleanup()
    {
        if (std::uncaught_exceptions() == exceptions_) return;
        holdInterruptions();
        try {
            fm->removeItem(path_);
        } catch (...) {
        }
    }
    ScratchCleanup(const ScratchCleanup&) = delete;
    ScratchCleanup& operator=(const ScratchCleanup&) = delete;

private:
    Path path_;
    int exceptions_ = std::uncaught_exceptions();
};

// Removes the old item a replacement moved out of the way. It is clean-up:
// the new item is in place and the old one in the backup, so an item that
// resists (an administrator's run left it, say) stays under its scratch name,
// on record for a later run, and the replacement still succeeds.
void discard(const Path& oldItem)
{
    try {
        fm->removeItem(oldItem);
    } catch (const std::exception&) {
    }
}

constexpr unsigned privateFileMode = 0600;

}  // namespace

Transaction::Transaction(std::filesystem::path backupRoot, ScratchRecorder recordScratch, Progress* progress)
    : backupRoot_(std::move(backupRoot)), recordScratch_(std::move(recordScratch)), progress_(progress)
{
}

void Transaction::makeBackupRoot()
{
    if (backupRootMade_) return;
    makeDir(backupRoot_, true);
    backupRootMade_ = true;
}

Path Transaction::scratchBeside(const Path& destination)
{
    Path scratch = scratchItemBeside(destination);
    if (recordScratch_) recordScratch_(scratch);
    return scratch;
}

void Transaction::replace(const std::filesystem::path& source, const std::filesystem::path& destination,
                          const std::string& label, std::optional<unsigned> mode, Origin origin)
{
    makeBackupRoot();
    fm->createDirectory(destination.parent_path());
    const Path scratch = scratchBeside(destination);
    ScratchCleanup cleanup(scratch);

    const auto installed = [this](std::uint64_t bytes) {
        if (progress_) progress_->advance(bytes);
    };
    fm->copyItem(source, scratch, {.copied = installed, .installed = origin == Origin::payload});
    if (mode) fm->setPermissions(scratch, *mode);

    Change change{destination, label, std::nullopt, std::nullopt};
    if (itemAt(destination)) {
        const Path& backup = change.backup.emplace(backupRoot_ / label);
        fm->copyItem(destination, backup);
        if (mode && *mode == privateFileMode) {
            // A link is left as it is: making it private would mean changing
            // whatever it points at, which may be the user's own file.
            const FileAttributes copied = fm->attributes(backup);
            if (copied.type != FileType::symlink) {
                if (copied.permissions != privateFileMode) change.restoredMode = copied.permissions;
                fm->setPermissions(backup, privateFileMode);
            }
        }
    }

    // A change is recorded once the destination has really changed: rollback
    // removes a recorded destination, and one that a failed swap left alone
    // is still the user's own item. Room is made first, so that recording
    // cannot fail after the swap.
    changes_.reserve(changes_.size() + 1);
    auto record = [&] { changes_.push_back(std::move(change)); };

    if (!itemAt(destination)) {
        fm->moveItem(scratch, destination);
        record();
        return;
    }
    // Swapped, never removed first: a run that dies between removing the old
    // item and renaming the new one would leave the place empty, and the old
    // item only in the backup folder. After the swap the old item sits under
    // the scratch name.
    try {
        fm->exchangeItems(scratch, destination);
        record();
        discard(scratch);
        return;
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::operation_not_supported) throw;
    }
    // A file system that cannot swap: the old item is renamed aside, then the
    // new one into place. Between the two the place is empty, but the old
    // item is whole under the other name (and in the backup).
    const Path aside = scratchBeside(destination);
    fm->moveItem(destination, aside);
    record();
    fm->moveItem(scratch, destination);
    discard(aside);
}

void Transaction::remove(const std::filesystem::path& destination, const std::string& label)
{
    makeBackupRoot();
    if (!itemAt(destination)) return;
    Change change{destination, label, backupRoot_ / label, std::nullopt};
    fm->copyItem(destination, *change.backup);
    changes_.reserve(changes_.size() + 1);
    const Path aside = scratchBeside(destination);
    fm->moveItem(destination, aside);
    changes_.push_back(std::move(change));
    discard(aside);
}

std::vector<std::string> Transaction::rollback() noexcept
{
    std::vector<std::string> unrestored;
    try {
        unrestored.reserve(changes_.size());
        for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
            const Change& change = *it;
            try {
                if (itemAt(change.destination)) fm->removeItem(change.destination);
            } catch (...) {
                unrestored.push_back(change.destination.native());
                continue;
            }
            if (!change.backup) continue;
            try {
                fm->copyItem(*change.backup, change.destination);
                // The backup was made private; the restored item gets the
                // mode it had before the run.
                if (change.restoredMode) fm->setPermissions(change.destination, *change.restoredMode);
            } catch (...) {
                unrestored.push_back(change.destination.native());
            }
        }
    } catch (...) {
        // Only running out of memory gets here; what was found so far is
        // still the best answer there is.
    }
    return unrestored;
}

}  // namespace kb
