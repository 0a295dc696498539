#pragma once
// A file manager that passes every call to another one. A double that
// changes a few calls derives from it and overrides only those; one that
// fails, counts or stops every call overrides `before` alone.

#include "platform/file_manager.h"

namespace kb {

// The operations of a file manager, as `before` names them.
enum class FileOperation {
    createDirectory,
    setPermissions,
    copyItem,
    moveItem,
    exchangeItems,
    removeItem,
    writeAtomically,
    attributes,
    destinationOfSymbolicLink,
    isWritable,
    contentsOfDirectory,
    openForReading,
    lockExclusively,
};

// Whether the operation may change what is on disk. The operations that only
// look (and the lock, which makes and changes nothing) come last.
constexpr bool changesFiles(FileOperation operation)
{
    return operation <= FileOperation::writeAtomically;
}

class ForwardingFileManager : public FileManager {
public:
    explicit ForwardingFileManager(FileManager& target) : target_(target) {}

    void createDirectory(const Path& path) override
    {
        before(FileOperation::createDirectory, path);
        target_.createDirectory(path);
    }
    void setPermissions(const Path& path, unsigned mode) override
    {
        before(FileOperation::setPermissions, path);
        target_.setPermissions(path, mode);
    }
    void copyItem(const Path& from, const Path& to, const CopyOptions& options) override
    {
        before(FileOperation::copyItem, from);
        target_.copyItem(from, to, options);
    }
    void moveItem(const Path& from, const Path& to) override
    {
        before(FileOperation::moveItem, from);
        target_.moveItem(from, to);
    }
    void exchangeItems(const Path& a, const Path& b) override
    {
        before(FileOperation::exchangeItems, a);
        target_.exchangeItems(a, b);
    }
    void removeItem(const Path& path) override
    {
        before(FileOperation::removeItem, path);
        target_.removeItem(path);
    }
    FileAttributes attributes(const Path& path) override
    {
        before(FileOperation::attributes, path);
        return target_.attributes(path);
    }
    std::string destinationOfSymbolicLink(const Path& path) override
    {
        before(FileOperation::destinationOfSymbolicLink, path);
        return target_.destinationOfSymbolicLink(path);
    }
    bool isWritable(const Path& path) override
    {
        before(FileOperation::isWritable, path);
        return target_.isWritable(path);
    }
    std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) override
    {
        before(FileOperation::contentsOfDirectory, path);
        return target_.contentsOfDirectory(path);
    }
    std::unique_ptr<InputFile> openForReading(const Path& path) override
    {
        before(FileOperation::openForReading, path);
        return target_.openForReading(path);
    }
    void writeAtomically(const Path& path, std::string_view data) override
    {
        before(FileOperation::writeAtomically, path);
        target_.writeAtomically(path, data);
    }
    std::unique_ptr<FileLock> lockExclusively(const Path& path) override
    {
        before(FileOperation::lockExclusively, path);
        return target_.lockExclusively(path);
    }
    std::unique_ptr<Confinement> confine(const Path& root) override { return target_.confine(root); }
    Path homeDirectory() override { return target_.homeDirectory(); }
    Path temporaryDirectory() override { return target_.temporaryDirectory(); }

protected:
    // Called before every call but confine, homeDirectory and temporaryDirectory is
    // passed on, with the operation and the path it is about (the source of
    // a copy or move); it may throw to fail the call.
    virtual void before(FileOperation /*operation*/, const Path& /*path*/) {}

private:
    FileManager& target_;
};

}  // namespace kb
