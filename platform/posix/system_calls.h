#pragma once
// The few calls the shared POSIX code needs that each system answers its own
// way. The Linux versions are in platform/linux/, the macOS ones in
// platform/macos/. A Linux build with KB_PORTABLE takes the renaming and
// copying calls from platform/posix/portable_calls.cpp and the random bytes
// and pipes from platform/posix/entropy_and_pipes.cpp instead, which any POSIX
// system (macOS too) has. Errors are thrown as by the file manager.

#include "platform/system_error.h"
#include "platform/unique_fd.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdio>

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>

namespace kb::system_calls {

using Path = std::filesystem::path;

// Renames `from` to `to`, failing with EEXIST when `to` exists (even an
// empty folder, which rename(2) would replace).
void renameWithoutReplacing(const Path& from, const Path& to);

// The same where no one-step call is to be had: check, then rename. A name
// that appears in between is replaced.
inline void renameAfterCheck(const Path& from, const Path& to)
{
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) throwSystemError(EEXIST, "move", from);
    if (std::rename(from.c_str(), to.c_str()) != 0) throwErrno("move", from);
}

// Swaps two existing items in one step; EOPNOTSUPP where the system or the
// file system cannot.
void exchange(const Path& a, const Path& b);

// Copies the bytes of `in` from its offset to its end into `out`; a failure
// names `from` when reading failed and `to` when writing did. A noted signal
// ends a long copy between two pieces (checkInterruption()).
void copyBytes(int in, int out, const Path& from, const Path& to);

// Copies what the system keeps beside a file's or folder's bytes and mode (on
// macOS its extended attributes, its ACL and the flags a user sets), as far as
// the target's file system can keep them; what it cannot is passed over.
void copyMetadata(int in, int out, const struct stat& st);

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
