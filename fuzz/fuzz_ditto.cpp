// The ditto stand-in's unpacker on mutated archives. Each input is written
// as an archive into a fresh sandbox that also holds a canary folder and a
// canary file, and unpacked into sandbox/dest. Whatever the archive holds,
// and whether or not extractZip refuses it, nothing may appear or change
// outside dest, and nothing in dest may be a hard link, a device, a FIFO, a
// socket, or carry a set-id or sticky bit.

#include "fuzz/fuzz_check.h"
#include "helpers/ditto/zip_extract.h"

#include <sys/stat.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

fs::path base;  // holds nothing but the sandbox of the current input

const std::string canaryText = "canary: must stay exactly as it is\n";

void writeFile(const fs::path& file, std::string_view bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    KB_FUZZ_CHECK(out.good());
}

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::string> names(const fs::path& folder)
{
    std::set<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

struct stat lstatOf(const fs::path& item)
{
    struct stat info {};
    KB_FUZZ_CHECK(::lstat(item.c_str(), &info) == 0);
    return info;
}

bool isRegularCanary(const fs::path& file)
{
    const struct stat info = lstatOf(file);
    return S_ISREG(info.st_mode) && info.st_nlink == 1 && (info.st_mode & 07777) == 0644 &&
           readFile(file) == canaryText;
}

void checkUnpacked(const fs::path& dest)
{
    const struct stat top = lstatOf(dest);
    KB_FUZZ_CHECK(S_ISDIR(top.st_mode));
    for (auto it = fs::recursive_directory_iterator(dest); it != fs::recursive_directory_iterator(); ++it) {
        const struct stat info = lstatOf(it->path());
        KB_FUZZ_CHECK(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode));
        KB_FUZZ_CHECK(S_ISDIR(info.st_mode) || info.st_nlink == 1);
        if (!S_ISLNK(info.st_mode)) KB_FUZZ_CHECK((info.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // As the ditto program does: member names stay byte for byte.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
    std::string pattern = (fs::temp_directory_path() / "kb-fuzz-ditto-XXXXXX").string();
    KB_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    base = pattern;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view archive(reinterpret_cast<const char*>(data), size);
    const fs::path sandbox = base / "sandbox";
    const fs::path dest = sandbox / "dest";
    fs::remove_all(sandbox);
    fs::create_directories(sandbox / "canary");
    writeFile(sandbox / "archive.zip", archive);
    writeFile(sandbox / "canary.txt", canaryText);
    writeFile(sandbox / "canary" / "keep.txt", canaryText);
    fs::permissions(sandbox / "canary.txt", fs::perms(0644));
    fs::permissions(sandbox / "canary" / "keep.txt", fs::perms(0644));

    try {
        kb::ditto::extractZip(sandbox / "archive.zip", dest);
    } catch (const std::exception&) {
        // Refusals are expected; what counts is what they left behind.
    }

    KB_FUZZ_CHECK(names(base) == std::set<std::string>{"sandbox"});
    std::set<std::string> inSandbox = names(sandbox);
    const bool unpacked = inSandbox.erase("dest") == 1;
    KB_FUZZ_CHECK((inSandbox == std::set<std::string>{"archive.zip", "canary", "canary.txt"}));
    KB_FUZZ_CHECK(readFile(sandbox / "archive.zip") == archive);
    KB_FUZZ_CHECK(isRegularCanary(sandbox / "canary.txt"));
    KB_FUZZ_CHECK(S_ISDIR(lstatOf(sandbox / "canary").st_mode));
    KB_FUZZ_CHECK(names(sandbox / "canary") == std::set<std::string>{"keep.txt"});
    KB_FUZZ_CHECK(isRegularCanary(sandbox / "canary" / "keep.txt"));
    if (unpacked) checkUnpacked(dest);

    fs::remove_all(sandbox);
    return 0;
}
