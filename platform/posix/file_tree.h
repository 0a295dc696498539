#pragma once
// Folders, files and whole trees at the level of descriptors, shared by the
// POSIX file manager. Whole trees are copied and removed without recursion
// and with a bounded number of open descriptors, however deep they are: a
// program started from the Finder gets 256 descriptors, and a tree thousands
// of folders deep must neither run it out of them nor overflow its stack.

#include "platform/file_manager.h"
#include "platform/unique_fd.h"

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace kb::file_tree {

// Where an item lies, for messages: the path is put together only when a
// message needs it, as a walk far below a folder would otherwise build a long
// path for every item it meets.
class Place {
public:
    Place(const Path& path) : base_(path) {}  // NOLINT: a path is a place
    Place(const Path& base, const std::vector<std::string>& below, std::string_view name)
        : base_(base), below_(&below), name_(name)
    {
    }
    Path path() const;

private:
    const Path& base_;
    const std::vector<std::string>* below_ = nullptr;  // the folders from the base down, the first one the base's own
    std::string_view name_;
};

[[noreturn]] void fail(int error, std::string_view action, const Place& place);
[[noreturn]] void failWithErrno(std::string_view action, const Place& place);

FileType typeOfMode(mode_t mode);

// Opens a folder, never following a final link.
UniqueFd openFolder(int at, const char* name, const Place& place);

struct RawEntry {
    std::string name;
    unsigned char type;  // as listed (DT_*); DT_UNKNOWN where the file system does not say
};
// The entries of an open folder sorted by name, without "." and ".."; the
// descriptor stays open and usable.
std::vector<RawEntry> listEntries(int folder, const Place& place);

// Opens a file to read its bytes, following a final link unless `flags` holds
// O_NOFOLLOW. The open never waits (a FIFO without a writer would block it
// for ever) and the descriptor must then be a regular file: a FIFO, a device
// such as /dev/zero or a socket could block a read or never end it.
UniqueFd openRegularFile(int at, const char* name, int flags, const Place& place);

// Copies the item `fromName` in the folder `fromDir` (a file, link, FIFO or
// whole tree; links are copied as links, never followed) to `toName` in
// `toDir`, which must not exist, keeping contents, modes, times and what the
// system keeps beside them (see CopyOptions). Folders are private while they
// fill. A socket or device is refused.
void copy(int fromDir, const char* fromName, const Path& from, int toDir, const char* toName, const Path& to,
          const CopyOptions& options);

// Removes the item `name` in `folder`, a whole tree for a folder, never
// following a link. Read-only folders of the user's own are opened up first.
void remove(int folder, const char* name, const Path& path);

}  // namespace kb::file_tree
