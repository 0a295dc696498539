#pragma once
// Small file functions shared by the whole installer. All file work goes
// through `fm`; their errors are the file manager's or the JSON writer's own.

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kb {

// Whether an item is at `path`, without following a final link: a dangling
// link exists; an item in a folder that cannot be searched does not.
bool exists(const std::filesystem::path& path);

// The same question answered strictly: only "no such item" counts as absent.
// An item that could not be looked at (EIO, EACCES) may well be there, so the
// file manager's error is passed on instead of an answer.
bool itemAt(const std::filesystem::path& path);

// Creates the folder with every missing parent; in private mode the folder
// itself (not its parents) then gets mode 0700, also when it existed.
void makeDir(const std::filesystem::path& path, bool privateMode);

// Writes `data` to `at` atomically, then gives the file `mode`. Returns `at`.
std::filesystem::path writeTemp(std::string_view data, const std::filesystem::path& at, unsigned mode = 0600);

// The installer's one JSON style: pretty-printed, keys sorted, "/" unescaped.
std::string jsonData(const nlohmann::json& value);

// "~" and a leading "~/" taken relative to `home`; anything else unchanged.
std::string expand(const std::string& path, const std::filesystem::path& home);

// Whether the item at `path`, or the nearest ancestor that exists, is writable.
bool writableAncestor(const std::filesystem::path& path);

// yyyyMMdd-HHmmss-SSS in local time, "-" and six random hexadecimal digits.
std::string timestamp();

}  // namespace kb
