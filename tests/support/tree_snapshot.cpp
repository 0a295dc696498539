#include "tests/support/tree_snapshot.h"

#include "tests/support/temp_dir.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>

namespace kb::test {

std::string sha256Hex(const std::string& bytes)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        std::array<char, 3> pair{};
        std::snprintf(pair.data(), pair.size(), "%02x", digest[i]);
        hex += pair.data();
    }
    return hex;
}

TreeSnapshot snapshot(const std::filesystem::path& root)
{
    TreeSnapshot result;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::filesystem::path& path = it->path();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        EntryState state;
        state.mode = st.st_mode & 07777;
        if (S_ISREG(st.st_mode)) {
            state.type = 'f';
            state.content = sha256Hex(readText(path));
        } else if (S_ISDIR(st.st_mode)) {
            state.type = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            state.type = 'l';
            state.mode = 0;
            state.content = std::filesystem::read_symlink(path).native();
        } else {
            state.type = 'o';
        }
        result[path.lexically_relative(root).native()] = state;
    }
    return result;
}

std::vector<std::string> differences(const TreeSnapshot& before, const TreeSnapshot& after)
{
    std::vector<std::string> lines;
    for (const auto& [path, state] : before) {
        auto found = after.find(path);
        if (found == after.end()) {
            lines.push_back("removed " + path);
        } else if (!(found->second == state)) {
            lines.push_back("changed " + path);
        }
    }
    for (const auto& [path, state] : after) {
        if (!before.contains(path)) lines.push_back("added " + path);
    }
    return lines;
}

}  // namespace kb::test
