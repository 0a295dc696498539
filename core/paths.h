#pragma once
// The installer's path rules, in one place: the command line, the verifier,
// the install frame and the bundle tool all judge paths with these.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kb {

// The real path (every link followed, ".", ".." and doubled slashes gone).
// When the path cannot be resolved, its standardized form instead: "." and
// doubled slashes removed, ".." folded against the component before it, no
// trailing slash; a relative path is first taken against the current folder,
// so the result is always absolute. Never fails.
std::string canonicalPath(const std::filesystem::path& path);

// The real path when the platform's realpath resolves the whole path;
// nothing when it fails (a missing item, a dangling link, a loop, ...).
std::optional<std::string> resolvedPath(const std::filesystem::path& path);

// The standardized form of canonicalPath's fall-back, computed on the text alone.
std::string standardizedPath(const std::filesystem::path& path);

// Where `path` (absolute) lies once links are resolved, also when it does not
// exist yet: the real path of its nearest part that resolves (itself, or the
// nearest folder above it), followed by the rest, standardized.
std::string resolvedPlace(const std::filesystem::path& path);

// Whether `place` is `folder` itself or lies below it; both are compared as
// the texts they are (absolute and standardized, or both resolved).
bool inside(std::string_view place, std::string_view folder);

// Whether a relative path stays below its folder: not empty, not absolute,
// and no ".." piece.
bool safeRelative(std::string_view path);

// Finder's metadata files ("._" followed by anything, and ".DS_Store"): the
// bundle tool leaves them out and the verifier passes them over, at every
// depth; a folder so named is no Finder file, and is kept and checked.
bool ignoredName(std::string_view name);

}  // namespace kb
