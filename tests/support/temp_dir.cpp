#include "tests/support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace kb::test {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base == '/' ? base : "/tmp") + "/kb-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = buffer.data();
}

TempDir::~TempDir()
{
    forceRemove(path_);
}

void forceRemove(const std::filesystem::path& path)
{
    std::error_code error;
    // Give every folder back its owner's permissions first.
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) {
        ::chmod(path.c_str(), 0700);
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path, std::filesystem::directory_options::skip_permission_denied, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0700);
        }
    }
    std::filesystem::remove_all(path, error);
}

void writeFile(const std::filesystem::path& path, std::string_view content, unsigned mode)
{
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + path.native());
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.native());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void makeLink(const std::string& target, const std::filesystem::path& link)
{
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink(target, link);
}

unsigned modeOf(const std::filesystem::path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throw std::system_error(errno, std::generic_category(), path.native());
    return st.st_mode & 07777;
}

std::vector<std::filesystem::path> sortedEntries(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> entries;
    if (std::filesystem::exists(folder)) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace kb::test
