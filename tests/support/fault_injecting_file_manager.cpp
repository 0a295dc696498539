#include "tests/support/fault_injecting_file_manager.h"

#include "platform/system_error.h"

namespace kb::test {

namespace {

class CountingInputFile final : public InputFile {
public:
    CountingInputFile(std::unique_ptr<InputFile> real, FaultInjectingFileManager& owner, Path path)
        : real_(std::move(real)), owner_(owner), path_(std::move(path)) {}

    std::size_t read(std::span<std::byte> buffer) override
    {
        owner_.check("read", path_, {}, false);
        return real_->read(buffer);
    }

private:
    std::unique_ptr<InputFile> real_;
    FaultInjectingFileManager& owner_;
    Path path_;
};

}  // namespace

void FaultInjectingFileManager::failCall(std::size_t n, int error, bool persistent)
{
    failAt_ = n;
    error_ = error;
    persistent_ = persistent;
}

void FaultInjectingFileManager::failWhen(std::function<bool(const Operation&)> rule, int error)
{
    rule_ = std::move(rule);
    ruleError_ = error;
}

void FaultInjectingFileManager::clearFaults()
{
    failAt_ = 0;
    rule_ = nullptr;
}

void FaultInjectingFileManager::check(const std::string& name, const Path& path, const Path& other, bool changes)
{
    log_.push_back({name, path, other});
    const std::size_t n = log_.size();
    if (failAt_ != 0 && (n == failAt_ || (persistent_ && n > failAt_ && changes))) {
        injected_ = true;
        throwSystemError(error_, "(injected) " + name, path);
    }
    if (rule_ && rule_(log_.back())) {
        injected_ = true;
        throwSystemError(ruleError_, "(injected) " + name, path);
    }
}

void FaultInjectingFileManager::createDirectory(const Path& path)
{
    check("createDirectory", path);
    real_.createDirectory(path);
}

void FaultInjectingFileManager::setPermissions(const Path& path, unsigned mode)
{
    check("setPermissions", path);
    real_.setPermissions(path, mode);
}

void FaultInjectingFileManager::copyItem(const Path& from, const Path& to)
{
    check("copyItem", from, to);
    real_.copyItem(from, to);
}

void FaultInjectingFileManager::moveItem(const Path& from, const Path& to)
{
    check("moveItem", from, to);
    real_.moveItem(from, to);
}

void FaultInjectingFileManager::exchangeItems(const Path& a, const Path& b)
{
    check("exchangeItems", a, b);
    real_.exchangeItems(a, b);
}

void FaultInjectingFileManager::removeItem(const Path& path)
{
    check("removeItem", path);
    real_.removeItem(path);
}

FileAttributes FaultInjectingFileManager::attributes(const Path& path)
{
    check("attributes", path, {}, false);
    return real_.attributes(path);
}

std::string FaultInjectingFileManager::destinationOfSymbolicLink(const Path& path)
{
    check("destinationOfSymbolicLink", path, {}, false);
    return real_.destinationOfSymbolicLink(path);
}

bool FaultInjectingFileManager::isWritable(const Path& path)
{
    // The probe answers yes or no; an injected fault reads as "not writable".
    try {
        check("isWritable", path, {}, false);
    } catch (const std::system_error&) {
        return false;
    }
    return real_.isWritable(path);
}

std::vector<DirectoryEntry> FaultInjectingFileManager::contentsOfDirectory(const Path& path)
{
    check("contentsOfDirectory", path, {}, false);
    return real_.contentsOfDirectory(path);
}

std::unique_ptr<InputFile> FaultInjectingFileManager::openForReading(const Path& path)
{
    check("openForReading", path, {}, false);
    return std::make_unique<CountingInputFile>(real_.openForReading(path), *this, path);
}

void FaultInjectingFileManager::writeAtomically(const Path& path, std::string_view data)
{
    check("writeAtomically", path);
    real_.writeAtomically(path, data);
}

Path FaultInjectingFileManager::homeDirectory()
{
    return real_.homeDirectory();
}

Path FaultInjectingFileManager::temporaryDirectory()
{
    return real_.temporaryDirectory();
}

}  // namespace kb::test
