#pragma once
// Puts items in place one by one, backing up whatever each replaces, and
// can put everything back, newest first, when a later step fails.

#include "core/progress.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kb {

class Transaction {
public:
    struct Change {
        std::filesystem::path destination;
        std::string label;                            // the name of its backup
        std::optional<std::filesystem::path> backup;  // backupRoot / label; none when nothing was there
        // The old item's own mode when its backup was made private, so that
        // rollback can give the restored item its mode back.
        std::optional<unsigned> restoredMode;
    };

    // Told of every scratch item before it is made (RunFolder::recordScratchItem).
    using ScratchRecorder = std::function<void(const std::filesystem::path&)>;

    // The backup folder is made (with its parents, private) before the first
    // change, so that a run refused before any change leaves nothing behind.
    // `progress` hears of the bytes of every item copied into place.
    explicit Transaction(std::filesystem::path backupRoot, ScratchRecorder recordScratch = {},
                         Progress* progress = nullptr);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Where a replacement's item comes from: the verified payload (a mark a
    // download left on it is not carried over), or a backup of the user's
    // own item (copied with everything the system keeps beside it).
    enum class Origin { payload, backup };

    // Installs a copy of `source` at `destination`: copied to a hidden
    // scratch name beside it, the old item (if any) copied to
    // backupRoot/label and recorded, then swapped with the scratch item in
    // one step (without an old item the scratch item is simply renamed into
    // place). The old item is then removed from the scratch name, as far as
    // it can be: one that resists stays there, which does not fail the
    // replacement. `mode` applies to the installed top-level item; mode 0600
    // makes the backup private too.
    void replace(const std::filesystem::path& source, const std::filesystem::path& destination,
                 const std::string& label, std::optional<unsigned> mode = std::nullopt, Origin origin = Origin::payload);

    // Takes the item at `destination` away: copied to backupRoot/label, moved
    // aside and recorded, then removed from the aside name as far as it can
    // be (as the old item of a replacement is). With nothing there, nothing
    // happens and nothing is recorded.
    void remove(const std::filesystem::path& destination, const std::string& label);

    // Undoes every recorded change, newest first; returns the destinations
    // that could not be restored. Never throws.
    std::vector<std::string> rollback() noexcept;

    const std::vector<Change>& changes() const { return changes_; }
    const std::filesystem::path& backupRoot() const { return backupRoot_; }
    // Makes the backup folder, private, unless it is made already.
    void makeBackupRoot();

private:
    // A fresh scratch name beside `destination`, recorded.
    std::filesystem::path scratchBeside(const std::filesystem::path& destination);

    std::vector<Change> changes_;
    std::filesystem::path backupRoot_;
    ScratchRecorder recordScratch_;
    Progress* progress_;
    bool backupRootMade_ = false;
};

}  // namespace kb
