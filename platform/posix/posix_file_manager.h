#pragma once
// The real file manager on POSIX systems (Linux and macOS).

#include "platform/file_manager.h"

namespace kb {

class PosixFileManager final : public FileManager {
public:
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
    std::unique_ptr<FileLock> lockExclusively(const Path& path) override;
    Path homeDirectory() override;
    Path temporaryDirectory() override;
};

}  // namespace kb
