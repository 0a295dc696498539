#pragma once
// The real file manager on POSIX systems (Linux and macOS).

#include "platform/file_manager.h"
#include "platform/unique_fd.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

// A lock held by an open descriptor of the locked item: closing it (in every
// process that has it) lets the lock go.
class PosixFileLock final : public FileLock {
public:
    explicit PosixFileLock(UniqueFd fd) : fd_(std::move(fd)) {}
    int descriptor() const { return fd_.get(); }

private:
    UniqueFd fd_;
};

class PosixFileManager final : public FileManager {
public:
    void createDirectory(const Path& path) override;
    void setPermissions(const Path& path, unsigned mode) override;
    void copyItem(const Path& from, const Path& to, const CopyOptions& options) override;
    void moveItem(const Path& from, const Path& to) override;
    void exchangeItems(const Path& a, const Path& b) override;
    void removeItem(const Path& path) override;
    FileAttributes attributes(const Path& path) override;
    std::string destinationOfSymbolicLink(const Path& path) override;
    bool isWritable(const Path& path) override;
    std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) override;
    std::unique_ptr<InputFile> openForReading(const Path& path) override;
    void writeAtomically(const Path& path, std::string_view data) override;
    std::unique_ptr<FileLock> lockExclusively(const Path& path) override;
    std::unique_ptr<Confinement> confine(const Path& root) override;
    Path homeDirectory() override;
    Path temporaryDirectory() override;

    // A confined root: its path as given (normalised), its real path, and
    // its folder, opened when the confinement began.
    struct Root {
        std::uint64_t id;
        std::string given;
        std::string real;
        UniqueFd folder;
    };

private:
    // Where an operation finds the item `path` names: the folder that holds
    // it (opened beneath the root of the confinement that covers the path)
    // and its name there; without a confinement, the current folder and the
    // whole path.
    struct Spot {
        UniqueFd holder;
        int folder = -1;
        std::string name;
    };
    Spot spot(const Path& path, std::string_view action);
    // The root of the innermost confinement whose root holds `path`, and the
    // pieces of the path below it; nothing where none does (or for the root itself).
    const Root* confinedRoot(const Path& path, std::deque<std::string>& below) const;
    // Opens the folder `path` names itself, a final link followed (beneath
    // its confinement's root where one covers it), making missing folders
    // when `make` is set.
    UniqueFd openFolderItself(const Path& path, bool make, std::string_view action);

    std::vector<Root> roots_;
    std::uint64_t nextRoot_ = 0;
};

}  // namespace kb
