#pragma once
// A file manager that passes every call to a real one, counts the calls, and
// fails the ones a test chooses with the error a disk would give: once, or
// from that call on. Works as root, where permission bits stop nothing.

#include "platform/file_manager.h"

#include <functional>
#include <string>
#include <vector>

namespace kb::test {

struct Operation {
    std::string name;  // "createDirectory", "copyItem", "read", ...
    Path path;         // the path the operation is about (the source for copy and move)
    Path other;        // the destination of copy and move, the second item of an exchange
};

class FaultInjectingFileManager final : public FileManager {
public:
    explicit FaultInjectingFileManager(FileManager& real) : real_(real) {}

    // Fails call number `n` (1-based) with `error`; with `persistent` every
    // later call that changes something fails too, the way a full or
    // read-only disk keeps refusing.
    void failCall(std::size_t n, int error, bool persistent = false);
    // Fails every call for which `rule` holds.
    void failWhen(std::function<bool(const Operation&)> rule, int error);
    void clearFaults();

    std::size_t calls() const { return log_.size(); }
    const std::vector<Operation>& log() const { return log_; }
    bool injected() const { return injected_; }

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
    Path homeDirectory() override;
    Path temporaryDirectory() override;

    // Counts and possibly fails one call; used by the wrapped input files too.
    void check(const std::string& name, const Path& path, const Path& other = {}, bool changes = true);

private:
    FileManager& real_;
    std::vector<Operation> log_;
    std::size_t failAt_ = 0;
    int error_ = 0;
    bool persistent_ = false;
    bool injected_ = false;
    std::function<bool(const Operation&)> rule_;
    int ruleError_ = 0;
};

}  // namespace kb::test
