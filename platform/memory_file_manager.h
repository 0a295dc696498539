#pragma once
// A file manager that keeps a whole file system in memory, for tests (its
// own library, kb_memory_files, which no program links): folders, files
// with their bytes and modes, links with their target texts, special files
// with their modes. It answers and fails as the system's file manager does
// (the same errno, the same action in the message), so tests can run file
// logic without touching a disk.
//
// Paths are absolute; links before the last component are followed, as the
// system follows them. New files and folders get the modes a umask of 022
// gives (0644, 0755); permissions are kept but, as for root, stop nothing;
// only isWritable() reads the owner's write bit. Times are not kept.

#include "platform/file_manager.h"

#include <memory>
#include <string>

namespace kb {

struct MemoryNode;  // one folder, file or link, defined beside the file manager

class MemoryFileManager final : public FileManager {
public:
    // Starts with the two folders (and the folders above them).
    MemoryFileManager(Path home, Path temporary);

    // Puts a file or a link at `path` in place of what is there, making the
    // folders above it as createDirectory() does.
    void addFile(const Path& path, std::string bytes, unsigned mode = 0644);
    void addLink(const Path& path, std::string target);
    // Puts a special file (as a FIFO) at `path`: listed and copied, never read.
    void addSpecial(const Path& path, unsigned mode = 0644);

    void createDirectory(const Path& path) override;
    void setPermissions(const Path& path, unsigned mode) override;
    void copyItem(const Path& from, const Path& to) override;
    void moveItem(const Path& from, const Path& to) override;
    void exchangeItems(const Path& a, const Path& b) override;
    void removeItem(const Path& path) override;
    FileAttributes attributes(const Path& path) override;
    std::string destinationOfSymbolicLink(const Path& path) override;
    bool isWritable(const Path& path) override;
    std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) override;
    std::unique_ptr<InputFile> openForReading(const Path& path) override;
    void writeAtomically(const Path& path, std::string_view data) override;
    // Locks are kept per item in memory.
    std::unique_ptr<FileLock> lockExclusively(const Path& path) override;
    Path homeDirectory() override { return home_; }
    Path temporaryDirectory() override { return temporary_; }

private:
    std::shared_ptr<MemoryNode> root_;
    Path home_;
    Path temporary_;
};

}  // namespace kb
