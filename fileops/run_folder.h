#pragma once
// The run's own folder in the temporary folder. The payload is unpacked into
// it and scratch files are written there; it also keeps a record of the
// scratch items the run makes beside the items it installs, so that the next
// run in the same home can remove them should this one be killed. While the
// object lives, it holds the folder's lock: a folder whose lock is free
// belongs to a run that has ended.

#include "platform/file_manager.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace kb {

// A fresh scratch name beside `item`: ".kestrelbay-install-" and a UUID.
std::filesystem::path scratchItemBeside(const std::filesystem::path& item);

class RunFolder {
public:
    // Makes a new private folder kestrelbay-installer-<UUID> in `temporary`,
    // already locked and holding its record when it appears under that name
    // (unlocked where the file system has no locks).
    explicit RunFolder(const std::filesystem::path& temporary);
    // Removes the folder with everything in it, and the recorded scratch
    // items that are still there. Should one of them resist, the folder keeps
    // its record (and nothing else) for a later run. Nothing is reported.
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Where the payload is unpacked: a folder of its own in the run's folder,
    // beside the record and the scratch files.
    std::filesystem::path unpackFolder() const { return path_ / "payload"; }
    // The folder's lock, which a tool writing into the folder holds too while
    // it runs; nothing where the file system has no locks.
    const FileLock* lock() const { return lock_.get(); }

    // Starts the record of a run that changes `home`.
    void recordHome(const std::filesystem::path& home);
    // Adds a scratch item to the record, before it is made. A record that
    // would grow beyond what a sweep reads, even without the items that are
    // gone, refuses the item (EFBIG).
    void recordScratchItem(const std::filesystem::path& item);

    // Removes what earlier runs in the same temporary folder left when they
    // were killed: their folders and, where they changed the same home as
    // this run, their recorded scratch items, reached from the home's own
    // folder. A run that still lives (or a tool it started) holds its lock and
    // is left alone, as is a folder that cannot be locked or holds no
    // readable record of this program's; an item that resists is passed over,
    // as is any failure: a sweep never decides a run's outcome (but a noted
    // signal still ends it).
    void sweepAbandonedRuns();

private:
    void writeRecord();

    std::filesystem::path temporary_;
    std::filesystem::path path_;
    std::unique_ptr<FileLock> lock_;
    std::filesystem::path home_;
    std::vector<std::filesystem::path> scratchItems_;
};

}  // namespace kb
