#pragma once
// The one door through which the installer touches the file system.
//
// Everything that reads or changes files goes through the process-wide `fm`,
// so tests can put a fake or a fault-injecting implementation in its place.
// Errors are std::system_error carrying the errno and the path involved.

#include "platform/scoped_service.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kb {

using Path = std::filesystem::path;

enum class FileType { regular, directory, symlink, other };

// Attributes of an item itself; a final symbolic link is never followed.
struct FileAttributes {
    FileType type = FileType::other;
    std::uint64_t size = 0;
    unsigned permissions = 0;  // the POSIX mode bits (07777)
    bool ownItem = true;       // owned by the user the program runs as
};

struct DirectoryEntry {
    std::string name;
    FileType type = FileType::other;  // the entry itself, links not followed
};

class InputFile {
public:
    virtual ~InputFile() = default;
    // Reads up to buffer.size() bytes; 0 means end of file. Throws on error.
    virtual std::size_t read(std::span<std::byte> buffer) = 0;
};

// An exclusive hold on a lock, for as long as the object lives.
class FileLock {
public:
    virtual ~FileLock() = default;
};

// Paths below a folder reached from that folder alone, for as long as the
// object lives (FileManager::confine).
class Confinement {
public:
    virtual ~Confinement() = default;
};

// How copyItem copies.
struct CopyOptions {
    // Told of each piece of a file's bytes as it is copied, by its size.
    std::function<void(std::uint64_t)> copied;
    // The copy is an item being installed from the verified payload: a mark
    // the system put on the source because it came from a download (macOS's
    // quarantine) is not carried over. Every other attribute is.
    bool installed = false;
};

class FileManager {
public:
    virtual ~FileManager() = default;

    // Creates the folder and every missing parent; fine when it exists already.
    virtual void createDirectory(const Path& path) = 0;
    // Sets the mode of the item itself; refuses a symbolic link instead of
    // changing whatever it points at.
    virtual void setPermissions(const Path& path, unsigned mode) = 0;
    // Copies a file, link or whole tree; links are copied as links, contents,
    // mode bits and modification times are kept. Fails when `to` exists.
    virtual void copyItem(const Path& from, const Path& to, const CopyOptions& options = {}) = 0;
    // Renames within one file system. Fails when `to` exists.
    virtual void moveItem(const Path& from, const Path& to) = 0;
    // Swaps two existing items on one file system in a single step: each
    // name then refers to the item the other had, and neither is ever
    // missing. A file manager or file system that cannot do this fails
    // with EOPNOTSUPP.
    virtual void exchangeItems(const Path& a, const Path& b) = 0;
    // Removes a file, link or whole tree, never following a link.
    virtual void removeItem(const Path& path) = 0;
    virtual FileAttributes attributes(const Path& path) = 0;
    virtual std::string destinationOfSymbolicLink(const Path& path) = 0;
    virtual bool isWritable(const Path& path) = 0;
    // The entries of one folder, sorted by name, without "." and "..". A
    // final link to a folder is followed: the user's folders may be links.
    virtual std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) = 0;
    // Opens a regular file, following links, without ever waiting: a folder
    // fails with EISDIR, anything else that is no regular file (a FIFO, a
    // device, a socket) with EOPNOTSUPP.
    virtual std::unique_ptr<InputFile> openForReading(const Path& path) = 0;
    // Writes to a scratch file beside `path`, then renames it over `path`.
    virtual void writeAtomically(const Path& path, std::string_view data) = 0;
    // Takes the exclusive lock of the existing item at `path` (a folder, most
    // often; a final link is followed) without waiting. Nothing is made or
    // changed. Nothing when someone else holds it; the hold ends with the
    // object, and with the process however it ends.
    virtual std::unique_ptr<FileLock> lockExclusively(const Path& path) = 0;

    // Seals `root` (a folder, which may be reached through links) against
    // whatever else changes on the disk, until the returned object ends: every
    // path below it, by its text, is then reached from root's own folder, opened
    // once now, folder by folder, each opened without following a link. A link
    // on the way is followed where its text stays inside root (a relative
    // one, or an absolute one that names root by its path or its real path);
    // one that leads out, or a ".." above root, fails the operation with EXDEV
    // at the moment it is used. The item a path names is treated as each
    // operation says (attributes and removal never follow a final link).
    // Confinements nest; the innermost whose root holds a path reaches it.
    virtual std::unique_ptr<Confinement> confine(const Path& root) = 0;

    virtual Path homeDirectory() = 0;
    virtual Path temporaryDirectory() = 0;
};

// The process-wide file manager, set by the entry point before anything else.
extern FileManager* fm;

// The file manager of the system the program runs on.
std::unique_ptr<FileManager> makeSystemFileManager();

// Reads a whole file through `fm`; one of more than `limit` bytes fails with
// EFBIG once that many have been read.
std::string readFile(const Path& path, std::uint64_t limit);


}  // namespace kb
