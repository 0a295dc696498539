#pragma once
// A fresh folder for one test, removed with everything in it afterwards.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kb::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rest) const { return path_ / rest; }

private:
    std::filesystem::path path_;
};

// Small helpers for building fixtures (they use the real file system, not `fm`).
void writeFile(const std::filesystem::path& path, std::string_view content, unsigned mode = 0644);
std::string readText(const std::filesystem::path& path);
void makeLink(const std::string& target, const std::filesystem::path& link);
unsigned modeOf(const std::filesystem::path& path);  // permission bits, final link not followed
// The entries of a folder, sorted; none when the folder does not exist.
std::vector<std::filesystem::path> sortedEntries(const std::filesystem::path& folder);
// Removes a tree even where permission bits would stop an unprivileged user.
void forceRemove(const std::filesystem::path& path);

}  // namespace kb::test
