#pragma once
// A picture of every entry below a folder: type, permission bits, content
// digest and link target, to prove that a failed run changed nothing.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kb::test {

struct EntryState {
    char type = '?';  // 'f' file, 'd' folder, 'l' link, 'o' other
    unsigned mode = 0;
    std::string content;  // SHA-256 of a file's bytes, a link's target text
    bool operator==(const EntryState&) const = default;
};

using TreeSnapshot = std::map<std::string, EntryState>;  // relative path -> state

TreeSnapshot snapshot(const std::filesystem::path& root);

// The differences between two snapshots, one line each ("changed a/b", "added c", "removed d").
std::vector<std::string> differences(const TreeSnapshot& before, const TreeSnapshot& after);

std::string sha256Hex(const std::string& bytes);

}  // namespace kb::test
