#include "core/paths.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace kb {

std::string standardizedPath(const std::filesystem::path& path)
{
    const std::string& text = path.native();
    bool absolute = text.starts_with('/');
    std::vector<std::string_view> parts;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view piece = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (piece.empty() || piece == ".") continue;
        if (piece == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(piece);
            }
            continue;
        }
        parts.push_back(piece);
    }
    if (parts.empty()) return std::string(1, absolute ? '/' : '.');
    std::string result;
    result.reserve(text.size());
    for (std::string_view part : parts) {
        if (absolute || !result.empty()) result += '/';
        result += part;
    }
    return result;
}

std::optional<std::string> resolvedPath(const std::filesystem::path& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

std::string canonicalPath(const std::filesystem::path& path)
{
    if (std::optional<std::string> resolved = resolvedPath(path)) return std::move(*resolved);
    // The result is always absolute, like the path of a file URL: a relative
    // path is taken against the current folder first.
    if (path.is_relative()) {
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(path, error);
        if (!error) return standardizedPath(absolute);
    }
    return standardizedPath(path);
}

std::string resolvedPlace(const std::filesystem::path& path)
{
    std::filesystem::path found = standardizedPath(path);
    std::string rest;
    std::optional<std::string> resolved;
    while (!(resolved = resolvedPath(found)) && found.has_relative_path()) {
        rest = rest.empty() ? found.filename().native() : found.filename().native() + "/" + rest;
        found = found.parent_path();
    }
    const std::string base = resolved.value_or(found.native());
    return rest.empty() ? base : standardizedPath(base + "/" + rest);
}

bool inside(std::string_view place, std::string_view folder)
{
    if (place == folder) return true;
    if (folder == "/") return place.starts_with('/');
    return place.size() > folder.size() && place.starts_with(folder) && place[folder.size()] == '/';
}

bool safeRelative(std::string_view path)
{
    if (path.empty() || path.starts_with('/')) return false;
    while (!path.empty()) {
        std::size_t slash = path.find('/');
        if (path.substr(0, slash) == "..") return false;
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return true;
}

bool ignoredName(std::string_view name)
{
    return name.starts_with("._") || name == ".DS_Store";
}

}  // namespace kb
