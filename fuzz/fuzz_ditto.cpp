// The ditto stand-in's unpacker on mutated archives. Each input is written
// as an archive into a fresh sandbox that also holds a canary folder and a
// canary file, and unpacked into sandbox/dest. Whatever the archive holds,
// and whether or not extractZip refuses it, nothing may appear or change
// outside dest, and nothing in dest may be a hard link, a device, a FIFO, a
// socket, or carry a set-id or sticky bit.

#include "fuzz/fuzz_check.h"
#include "fuzz/sandbox_tree.h"
#include "helpers/ditto/zip_extract.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
const std::string canaryText = "canary: must stay exactly as it is\n";

fs::path base;       // holds nothing but the sandbox of the current input
kb::UniqueFd baseFd;

void writeFile(int folder, const char* name, std::string_view bytes)
{
    kb::UniqueFd file(::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    KB_FUZZ_CHECK(static_cast<bool>(file));
    KB_FUZZ_CHECK(::fchmod(file.get(), 0644) == 0);
    while (!bytes.empty()) {
        const ssize_t done = ::write(file.get(), bytes.data(), bytes.size());
        KB_FUZZ_CHECK(done > 0);
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
}

// The whole content of a regular file with one link, or nothing.
bool holdsExactly(int folder, const char* name, std::string_view expected)
{
    kb::UniqueFd file(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file) return false;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        (info.st_mode & 07777) != 0644 || static_cast<std::size_t>(info.st_size) != expected.size()) {
        return false;
    }
    std::string content(expected.size(), '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        const ssize_t done = ::read(file.get(), content.data() + got, content.size() - got);
        if (done <= 0) return false;
        got += static_cast<std::size_t>(done);
    }
    return content == expected;
}

std::vector<std::string> sortedNames(int folder)
{
    std::vector<std::string> names = kb::fuzz::entryNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// Whether `name` in `parent` is still the folder open as `folder`.
bool sameFolder(int parent, const char* name, int folder)
{
    struct stat named {};
    struct stat open {};
    return ::fstatat(parent, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(folder, &open) == 0 &&
           S_ISDIR(named.st_mode) && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

void checkUnpacked(int dest)
{
    kb::fuzz::walkTree(dest, [](const struct stat& info) {
        KB_FUZZ_CHECK(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode));
        KB_FUZZ_CHECK(S_ISDIR(info.st_mode) || info.st_nlink == 1);
        if (!S_ISLNK(info.st_mode)) KB_FUZZ_CHECK((info.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) == 0);
    });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // As the ditto program does: member names stay byte for byte.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
    // Walking a deep unpacked tree holds one descriptor per level.
    struct rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    std::string pattern = (fs::temp_directory_path() / "kb-fuzz-ditto-XXXXXX").string();
    KB_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    base = pattern;
    baseFd = kb::UniqueFd(::open(base.c_str(), folderFlags));
    KB_FUZZ_CHECK(static_cast<bool>(baseFd));
    std::atexit([] {
        kb::fuzz::removeTree(baseFd.get(), "sandbox");
        ::rmdir(base.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view archive(reinterpret_cast<const char*>(data), size);
    kb::fuzz::removeTree(baseFd.get(), "sandbox");
    KB_FUZZ_CHECK(::mkdirat(baseFd.get(), "sandbox", 0755) == 0);
    kb::UniqueFd sandbox(::openat(baseFd.get(), "sandbox", folderFlags));
    KB_FUZZ_CHECK(static_cast<bool>(sandbox));
    KB_FUZZ_CHECK(::mkdirat(sandbox.get(), "canary", 0755) == 0);
    kb::UniqueFd canary(::openat(sandbox.get(), "canary", folderFlags));
    KB_FUZZ_CHECK(static_cast<bool>(canary));
    writeFile(sandbox.get(), "archive.zip", archive);
    writeFile(sandbox.get(), "canary.txt", canaryText);
    writeFile(canary.get(), "keep.txt", canaryText);

    try {
        kb::ditto::extractZip(base / "sandbox" / "archive.zip", base / "sandbox" / "dest");
    } catch (const std::exception&) {
        // Refusals are expected; what counts is what they left behind.
    }

    KB_FUZZ_CHECK(kb::fuzz::entryNames(baseFd.get()) == std::vector<std::string>{"sandbox"});
    std::vector<std::string> names = sortedNames(sandbox.get());
    const auto dest = std::find(names.begin(), names.end(), "dest");
    const bool unpacked = dest != names.end();
    if (unpacked) names.erase(dest);
    KB_FUZZ_CHECK((names == std::vector<std::string>{"archive.zip", "canary", "canary.txt"}));
    KB_FUZZ_CHECK(holdsExactly(sandbox.get(), "archive.zip", archive));
    KB_FUZZ_CHECK(holdsExactly(sandbox.get(), "canary.txt", canaryText));
    KB_FUZZ_CHECK(sameFolder(sandbox.get(), "canary", canary.get()));
    KB_FUZZ_CHECK(kb::fuzz::entryNames(canary.get()) == std::vector<std::string>{"keep.txt"});
    KB_FUZZ_CHECK(holdsExactly(canary.get(), "keep.txt", canaryText));
    if (unpacked) {
        // The same folder the sandbox was made with, still a folder.
        kb::UniqueFd unpackedFd(::openat(sandbox.get(), "dest", folderFlags));
        KB_FUZZ_CHECK(static_cast<bool>(unpackedFd));
        checkUnpacked(unpackedFd.get());
    }

    sandbox.reset();
    canary.reset();
    kb::fuzz::removeTree(baseFd.get(), "sandbox");
    return 0;
}
