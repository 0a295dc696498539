#pragma once
// The few calls the shared POSIX code needs that each system answers its own
// way. The Linux versions are in platform/linux/, the macOS ones in
// platform/macos/. A Linux build with KB_PORTABLE takes the renaming and
// copying calls from platform/posix/portable_calls.cpp and the random bytes
// and pipes from platform/posix/entropy_and_pipes.cpp instead, which any POSIX
// system (macOS too) has. Errors are thrown as by the file manager.

#include "platform/system_error.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

namespace kb::system_calls {

using Path = std::filesystem::path;

// An item as the calls below take it: a folder's descriptor (or AT_FDCWD)
// and a name in it (or a whole path), with the path a message names.
struct Item {
    int folder;
    const char* name;
    const Path& path;
};

// Renames `from` to `to`, failing with EEXIST when `to` exists (even an
// empty folder, which rename(2) would replace).
void renameWithoutReplacing(const Item& from, const Item& to);

// The same where no one-step call is to be had: check, then rename. A name
// that appears in between is replaced.
inline void renameAfterCheck(const Item& from, const Item& to)
{
    struct stat st {};
    if (::fstatat(to.folder, to.name, &st, AT_SYMLINK_NOFOLLOW) == 0) throwSystemError(EEXIST, "move", from.path);
    if (::renameat(from.folder, from.name, to.folder, to.name) != 0) throwErrno("move", from.path);
}

// Swaps two existing items in one step; EOPNOTSUPP where the system or the
// file system cannot.
void exchange(const Item& a, const Item& b);

// Opens the folder `relative` names below the folder `root` in one call that
// never leaves root (Linux's openat2 with RESOLVE_BENEATH), for looking up
// names in it only; -1 with errno where the system has no such call, and
// wherever the call refuses (a link leading out, an absolute link, a missing
// folder): the caller then walks the path folder by folder.
int openBeneath(int root, const char* relative);

// Copies the bytes of `in` from its offset to its end into `out`, telling
// `copied` of each piece; a failure names `from` when reading failed and `to`
// when writing did. A noted signal ends a long copy between two pieces
// (checkInterruption()).
void copyBytes(int in, int out, const Path& from, const Path& to, const std::function<void(std::uint64_t)>& copied);

// Copies what the system keeps beside a file's or folder's bytes and mode (on
// macOS its extended attributes, its ACL and the flags a user sets), as far as
// the target's file system can keep them; what it cannot is passed over. For
// an item being `installed`, a download's quarantine mark is left behind.
void copyMetadata(int in, int out, const struct stat& st, bool installed);

// Makes what was written to `fd` survive a power loss: fsync(2), and on macOS
// F_FULLFSYNC, without which the disk may keep it in its own cache. Returns
// the call's result and errno.
int syncToDisk(int fd);

// mkfifoat(2), where the system has it; returns its result and errno.
int makeFifo(int folder, const char* name, mode_t mode, const Path& path);

// Fills `bytes` from the system's random source.
void randomBytes(std::span<std::uint8_t> bytes);

// A pipe whose two ends (read, write) are closed in started programs; a
// failure names `program`, the one the pipe is for.
std::array<UniqueFd, 2> closeOnExecPipe(const Path& program);

// The access and modification times of `st`, as futimens(2) takes them.
std::array<timespec, 2> accessAndModificationTimes(const struct stat& st);

// The system's per-user folder for temporary files, where TMPDIR names none.
Path temporaryFolder();

// runningExecutable() of platform/resource.h is the last system-specific
// call; it lives beside these in each system's folder.

}  // namespace kb::system_calls
