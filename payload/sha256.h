#pragma once
// SHA-256 of a file's content, in the form the descriptor and the manifest use.

#include <filesystem>
#include <string>

namespace kb {

// 64 lower-case hexadecimal digits. The file is read through `fm` in pieces
// of at most 1 MiB into one buffer that is reused from call to call; it is
// never read whole into memory. Opening and reading errors are the file
// manager's own (std::system_error), passed on unchanged.
std::string sha256(const std::filesystem::path& path);

}  // namespace kb
