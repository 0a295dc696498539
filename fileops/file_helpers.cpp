#include "fileops/file_helpers.h"

#include "platform/file_manager.h"

#include <system_error>

namespace kb {

bool exists(const std::filesystem::path& path)
{
    try {
        fm->attributes(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool itemAt(const std::filesystem::path& path)
{
    try {
        fm->attributes(path);
        return true;
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory || error.code() == std::errc::not_a_directory) {
            return false;
        }
        throw;
    }
}

void makeDir(const std::filesystem::path& path, bool privateMode)
{
    fm->createDirectory(path);
    if (privateMode) fm->setPermissions(path, 0700);
}

std::filesystem::path writeTemp(std::string_view data, const std::filesystem::path& at, unsigned mode)
{
    fm->writeAtomically(at, data);
    fm->setPermissions(at, mode);
    return at;
}

std::string jsonData(const nlohmann::json& value)
{
    // nlohmann's objects keep their keys sorted bytewise and it never
    // escapes "/"; dump() throws on text that is not valid UTF-8.
    return value.dump(2);
}

std::string expand(const std::string& path, const std::filesystem::path& home)
{
    if (path == "~") return home.native();
    if (path.starts_with("~/")) {
        // The rest is appended as it stands; a leading "/" in it must not
        // make it replace the home ("~//Volumes/x" stays below the home).
        std::string rest = path.substr(2);
        rest.erase(0, rest.find_first_not_of('/'));
        if (rest.empty()) return home.native();
        return (home / rest).native();
    }
    return path;
}

bool writableAncestor(const std::filesystem::path& path)
{
    std::filesystem::path candidate = path;
    while (!kb::exists(candidate) && candidate.native() != "/") {
        std::filesystem::path parent = candidate.parent_path();
        if (parent == candidate || parent.empty()) break;
        candidate = parent;
    }
    return fm->isWritable(candidate);
}

}  // namespace kb
