#pragma once
// A file manager that passes every call to a real one, counts the calls
// (every read of an opened file too), and kills its own process with SIGKILL
// right after the chosen call has finished, whether it succeeded or failed:
// a crash at that exact point of a run, with nothing unwound or flushed.

#include "platform/file_manager.h"

#include <csignal>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kb::test {

class CrashingFileManager final : public FileManager {
public:
    // `killAfter` 0: never kill, only count.
    CrashingFileManager(FileManager& real, std::size_t killAfter) : real_(real), killAfter_(killAfter) {}

    std::size_t calls() const { return calls_; }

    void createDirectory(const Path& path) override
    {
        step([&] { real_.createDirectory(path); });
    }
    void setPermissions(const Path& path, unsigned mode) override
    {
        step([&] { real_.setPermissions(path, mode); });
    }
    void copyItem(const Path& from, const Path& to) override
    {
        step([&] { real_.copyItem(from, to); });
    }
    void moveItem(const Path& from, const Path& to) override
    {
        step([&] { real_.moveItem(from, to); });
    }
    void exchangeItems(const Path& a, const Path& b) override
    {
        step([&] { real_.exchangeItems(a, b); });
    }
    void removeItem(const Path& path) override
    {
        step([&] { real_.removeItem(path); });
    }
    FileAttributes attributes(const Path& path) override
    {
        return step([&] { return real_.attributes(path); });
    }
    std::string destinationOfSymbolicLink(const Path& path) override
    {
        return step([&] { return real_.destinationOfSymbolicLink(path); });
    }
    bool isWritable(const Path& path) override
    {
        return step([&] { return real_.isWritable(path); });
    }
    std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) override
    {
        return step([&] { return real_.contentsOfDirectory(path); });
    }
    std::unique_ptr<InputFile> openForReading(const Path& path) override
    {
        std::unique_ptr<InputFile> file = step([&] { return real_.openForReading(path); });
        return std::make_unique<CountedInput>(std::move(file), *this);
    }
    void writeAtomically(const Path& path, std::string_view data) override
    {
        step([&] { real_.writeAtomically(path, data); });
    }
    Path homeDirectory() override
    {
        return step([&] { return real_.homeDirectory(); });
    }
    Path temporaryDirectory() override
    {
        return step([&] { return real_.temporaryDirectory(); });
    }

private:
    // Counts the call when it has finished, returned or thrown.
    class AfterCall {
    public:
        explicit AfterCall(CrashingFileManager& owner) : owner_(owner) {}
        ~AfterCall()
        {
            if (++owner_.calls_ == owner_.killAfter_) std::raise(SIGKILL);
        }
        AfterCall(const AfterCall&) = delete;
        AfterCall& operator=(const AfterCall&) = delete;

    private:
        CrashingFileManager& owner_;
    };

    class CountedInput final : public InputFile {
    public:
        CountedInput(std::unique_ptr<InputFile> real, CrashingFileManager& owner)
            : real_(std::move(real)), owner_(owner) {}
        std::size_t read(std::span<std::byte> buffer) override
        {
            return owner_.step([&] { return real_->read(buffer); });
        }

    private:
        std::unique_ptr<InputFile> real_;
        CrashingFileManager& owner_;
    };

    template <typename Call>
    std::invoke_result_t<Call> step(Call call)
    {
        AfterCall after(*this);
        return call();
    }

    FileManager& real_;
    std::size_t killAfter_;
    std::size_t calls_ = 0;
};

}  // namespace kb::test
