#pragma once
// Unpacking a ZIP archive into a folder, refusing everything that could
// write outside it.

#include <filesystem>

namespace kb::ditto {

// Extracts every member of the ZIP archive at `archive` below `destination`
// (created when missing): folders, regular files with their permission bits
// and symbolic links as links with their stored target text. Throws, leaving
// what was unpacked so far, at the first member it refuses: an absolute name,
// a ".." piece, a path through a link or file an earlier member created, a
// name that is already taken (duplicates included), a hard link, a device,
// FIFO or socket, data that differs from the declared size, or more data than
// the archive can plausibly hold. Set-user-id, set-group-id and sticky bits
// are stripped, never restored.
void extractZip(const std::filesystem::path& archive, const std::filesystem::path& destination);

}  // namespace kb::ditto
