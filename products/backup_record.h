#pragma once
// What a run's backup folder holds, told by a record beside the run's own
// record (INSTALLATION.json): every item the run changed, by the label of its
// backup, with its place below the home and what its copy is, or none where
// nothing was there before the run. A restore puts back what it names, and
// first checks the folder against it.

#include "fileops/transaction.h"
#include "platform/file_manager.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kb {

// A copy in a backup folder, as the record describes it.
struct SavedCopy {
    FileType type = FileType::regular;
    unsigned mode = 0;         // the item's own mode before the run (a private copy's, before it was made private)
    std::uint64_t size = 0;    // a file's
    std::string sha256;        // a file's digest, or a folder's: of the list of every entry below it (type, mode, size)
    std::string target;        // a link's text

    bool operator==(const SavedCopy&) const = default;
};

struct SavedItem {
    std::string place;                // below the home, "/"-separated
    std::optional<SavedCopy> copy;    // none: the item was not there before the run
};

struct BackupContents {
    std::filesystem::path folder;
    std::string product;                      // the product's name
    std::map<std::string, SavedItem> items;   // by label
};

// Writes the record of `transaction`'s changes below `home` into its backup folder.
void writeBackupRecord(const Transaction& transaction, const std::filesystem::path& home, const std::string& product);

// The contents of a backup folder as its record says; nothing for a folder
// without a record this program can read.
std::optional<BackupContents> readBackupRecord(const std::filesystem::path& folder);

// Whether the folder holds exactly what its record says: a copy for every item
// that had one, of the recorded type (a file of its size and digest, a folder
// holding entries of the recorded types, modes and sizes, a link with its text), no link in a
// copied folder that leads out of that folder,
// and nothing else but the two records.
bool holdsWhatItsRecordSays(const BackupContents& contents);

}  // namespace kb
