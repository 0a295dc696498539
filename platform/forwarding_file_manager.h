#pragma once
// A file manager that passes every call to another one. A double that
// changes a few calls derives from it and overrides only those; one that
// fails, counts or stops every call overrides `before` alone.

#include "platform/file_manager.h"

namespace kb {

class ForwardingFileManager : public FileManager {
public:
    explicit ForwardingFileManager(FileManager& target) : target_(target) {}

    void createDirectory(const Path& path) override
    {
        before("createDirectory", path);
        target_.createDirectory(path);
    }
    void setPermissions(const Path& path, unsigned mode) override
    {
        before("setPermissions", path);
        target_.setPermissions(path, mode);
    }
    void copyItem(const Path& from, const Path& to) override
    {
        before("copyItem", from);
        target_.copyItem(from, to);
    }
    void moveItem(const Path& from, const Path& to) override
    {
        before("moveItem", from);
        target_.moveItem(from, to);
    }
    void exchangeItems(const Path& a, const Path& b) override
    {
        before("exchangeItems", a);
        target_.exchangeItems(a, b);
    }
    void removeItem(const Path& path) override
    {
        before("removeItem", path);
        target_.removeItem(path);
    }
    FileAttributes attributes(const Path& path) override
    {
        before("attributes", path);
        return target_.attributes(path);
    }
    std::string destinationOfSymbolicLink(const Path& path) override
    {
        before("destinationOfSymbolicLink", path);
        return target_.destinationOfSymbolicLink(path);
    }
    bool isWritable(const Path& path) override
    {
        before("isWritable", path);
        return target_.isWritable(path);
    }
    std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) override
    {
        before("contentsOfDirectory", path);
        return target_.contentsOfDirectory(path);
    }
    std::unique_ptr<InputFile> openForReading(const Path& path) override
    {
        before("openForReading", path);
        return target_.openForReading(path);
    }
    void writeAtomically(const Path& path, std::string_view data) override
    {
        before("writeAtomically", path);
        target_.writeAtomically(path, data);
    }
    std::unique_ptr<FileLock> lockExclusively(const Path& path) override
    {
        before("lockExclusively", path);
        return target_.lockExclusively(path);
    }
    Path homeDirectory() override { return target_.homeDirectory(); }
    Path temporaryDirectory() override { return target_.temporaryDirectory(); }

protected:
    // Called before every call but homeDirectory and temporaryDirectory is
    // passed on, with the operation's name and the path it is about (the
    // source of a copy or move); it may throw to fail the call.
    virtual void before(std::string_view /*operation*/, const Path& /*path*/) {}

private:
    FileManager& target_;
};

}  // namespace kb
