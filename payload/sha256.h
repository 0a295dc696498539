#pragma once
// SHA-256 in the form the descriptor and the manifest use: 64 lower-case
// hexadecimal digits.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kb {

// The digest of a file's content, computed by the system's own library
// (payload/sha256_engine.h). The file is read through `fm` in pieces of at most
// 1 MiB into one buffer, with one digest state, both reused from call to call;
// it is never read whole into memory. Opening and reading
// errors are the file manager's own (std::system_error), passed on unchanged.
std::string sha256(const std::filesystem::path& path);

// The same, handing every piece read to `onPiece` as well, in order, so that
// one reading of the file can both digest it and copy it elsewhere. What
// `onPiece` throws is passed on.
std::string sha256(const std::filesystem::path& path,
                   const std::function<void(std::span<const std::byte>)>& onPiece);

// The digest of `bytes` held in memory.
std::string sha256OfBytes(std::string_view bytes);

}  // namespace kb
