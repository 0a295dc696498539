#include "helpers/ditto/zip_extract.h"

#include "helpers/ditto/member_path.h"
#include "helpers/ditto/safe_tree.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace kb::ditto {
namespace {

constexpr std::size_t bufferSize = 1 << 20;

// Deflate can expand a byte to about a thousand, so a small archive can hold
// gigabytes of zeros. The unpacked total may be at most 64 times the archive's
// size plus 256 MiB: far above any real payload (the ratio is taken over the
// whole archive, and the margin covers one very compressible file in a small
// archive), while a bomb stops after a bounded amount of writing.
constexpr std::uint64_t expansionFactor = 64;
constexpr std::uint64_t expansionMargin = std::uint64_t{256} << 20;

using ArchivePtr = std::unique_ptr<archive, decltype(&archive_read_free)>;

std::string archiveError(archive* reader, const std::string& context)
{
    const char* text = archive_error_string(reader);
    std::string reason = text ? text : "unreadable ZIP archive";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return context + ": " + reason;
}

struct Budget {
    std::uint64_t limit = 0;
    std::uint64_t written = 0;
};

void writeAll(int fd, const char* data, std::size_t size, const std::vector<std::string>& member)
{
    while (size > 0) {
        ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "member " + quoted(member));
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
}

constexpr std::uint64_t smallMember = 1 << 20;

void checkFreeSpace(int root, archive_entry* entry, const std::vector<std::string>& member)
{
    if (!archive_entry_size_is_set(entry)) return;
    // Small members are left to their writes: looking up the free space for
    // each of tens of thousands of small files costs more than it saves.
    const auto declared = static_cast<std::uint64_t>(archive_entry_size(entry));
    if (declared < smallMember) return;
    // fstatfs, not fstatvfs: the latter also looks up the mount's flags.
    struct statfs space {};
    if (::fstatfs(root, &space) != 0) return;  // no figure to judge by: the writes will tell
    const std::uint64_t available = std::uint64_t{space.f_bavail} * static_cast<std::uint64_t>(space.f_bsize);
    if (declared > available) {
        throw std::runtime_error("member " + quoted(member) + " needs " + std::to_string(declared) +
                                 " bytes, only " + std::to_string(available) + " are free");
    }
}

void extractFile(archive* reader, archive_entry* entry, SafeTree& tree, const std::vector<std::string>& member,
                 Budget& budget)
{
    checkFreeSpace(tree.root(), entry, member);
    UniqueFd file = tree.createFile(member);
    // The library's own blocks are written as they come, without a copy
    // into a buffer of ours.
    std::uint64_t size = 0;
    for (;;) {
        const void* block = nullptr;
        std::size_t length = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &length, &offset);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK) throw std::runtime_error(archiveError(reader, "member " + quoted(member)));
        if (offset < 0 || static_cast<std::uint64_t>(offset) < size) {
            throw std::runtime_error("member " + quoted(member) + ": its data comes out of order");
        }
        // A gap before the block (never in a ZIP archive) reads as zeros.
        const std::uint64_t end = static_cast<std::uint64_t>(offset) + length;
        const std::uint64_t piece = end - size;
        if (budget.written + piece > budget.limit) {
            throw std::runtime_error("refusing member " + quoted(member) + ": the archive unpacks to more than " +
                                     std::to_string(budget.limit) + " bytes, far more than its size allows");
        }
        budget.written += piece;
        if (static_cast<std::uint64_t>(offset) != size && ::lseek(file.get(), offset, SEEK_SET) < 0) {
            throw std::system_error(errno, std::generic_category(), "member " + quoted(member));
        }
        size = end;
        writeAll(file.get(), static_cast<const char*>(block), length, member);
    }
    if (archive_entry_size_is_set(entry) && size != static_cast<std::uint64_t>(archive_entry_size(entry))) {
        throw std::runtime_error("member " + quoted(member) + " holds " + std::to_string(size) +
                                 " bytes, not the " + std::to_string(archive_entry_size(entry)) + " it declares");
    }
    // Only the permission bits: set-id and sticky bits are stripped.
    if (::fchmod(file.get(), archive_entry_perm(entry) & 0777) != 0) {
        throw std::system_error(errno, std::generic_category(), "member " + quoted(member));
    }
}

std::string kindName(mode_t type)
{
    switch (type) {
    case AE_IFCHR: return "a character device";
    case AE_IFBLK: return "a block device";
    case AE_IFIFO: return "a FIFO";
    case AE_IFSOCK: return "a socket";
    default: return "of an unknown kind";
    }
}

void extractMember(archive* reader, archive_entry* entry, SafeTree& tree, std::set<std::string>& seen,
                   Budget& budget)
{
    // Read as UTF-8, which needs a UTF-8 locale for the library (see main).
    const char* name = archive_entry_pathname_utf8(entry);
    if (!name) throw std::runtime_error("refusing a member whose name is not valid UTF-8");
    const std::vector<std::string> member = memberComponents(name);
    const std::string key = joinedPath(member);
    const std::string shown = "\"" + std::string(name) + "\"";
    const mode_t type = archive_entry_filetype(entry);

    if (archive_entry_hardlink(entry)) throw std::runtime_error("refusing member " + shown + ": a hard link");
    if (member.empty() && type != AE_IFDIR) {
        throw std::runtime_error("refusing member " + shown + ": it names the destination folder");
    }
    if (!member.empty() && !seen.insert(key).second) {
        throw std::runtime_error("refusing member " + shown + ": \"" + key + "\" appears twice in the archive");
    }

    switch (type) {
    case AE_IFDIR:
        // Folders stay usable by their owner whatever the archive says.
        tree.makeFolder(member, (archive_entry_perm(entry) & 0777) | 0700);
        return;
    case AE_IFLNK: {
        const char* target = archive_entry_symlink_utf8(entry);
        if (!target || !*target) throw std::runtime_error("refusing member " + shown + ": a link without a target");
        tree.makeLink(member, target);
        return;
    }
    case AE_IFREG:
        extractFile(reader, entry, tree, member, budget);
        return;
    default:
        throw std::runtime_error("refusing member " + shown + ": it is " + kindName(type));
    }
}

// The seeking reader does not recognise an archive without members; the
// streaming one does. Whether the archive is such an empty one: at least a
// whole end record (22 bytes) with no member before it.
bool emptyArchive(const std::filesystem::path& archivePath, std::uint64_t size)
{
    constexpr std::uint64_t endRecordSize = 22;
    if (size < endRecordSize) return false;
    ArchivePtr reader(archive_read_new(), archive_read_free);
    if (!reader) return false;
    archive_read_support_format_zip_streamable(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), bufferSize) != ARCHIVE_OK) return false;
    archive_entry* entry = nullptr;
    return archive_read_next_header(reader.get(), &entry) == ARCHIVE_EOF;
}

}  // namespace

void extractZip(const std::filesystem::path& archivePath, const std::filesystem::path& destination)
{
    struct stat archiveStat {};
    if (::stat(archivePath.c_str(), &archiveStat) != 0) {
        throw std::system_error(errno, std::generic_category(), archivePath.native());
    }
    Budget budget;
    budget.limit = static_cast<std::uint64_t>(archiveStat.st_size) * expansionFactor + expansionMargin;

    ArchivePtr reader(archive_read_new(), archive_read_free);
    if (!reader) throw std::runtime_error("cannot start the ZIP reader");
    // Links and modes live in the central directory, which only the seeking
    // reader consults; the streaming one would turn links into files.
    archive_read_support_format_zip_seekable(reader.get());
    // Names are UTF-8 whatever the locale says.
    archive_read_set_options(reader.get(), "hdrcharset=UTF-8");
    const std::string context = archivePath.native();
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), bufferSize) != ARCHIVE_OK) {
        const std::string error = archiveError(reader.get(), context);
        if (!emptyArchive(archivePath, static_cast<std::uint64_t>(archiveStat.st_size))) throw std::runtime_error(error);
        openDestination(destination);
        return;
    }

    SafeTree tree(openDestination(destination));
    std::set<std::string> seen;
    for (;;) {
        archive_entry* entry = nullptr;
        int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        // A warning here is about converting names to the locale's
        // character set, which the UTF-8 names used below do not need.
        if (status < ARCHIVE_WARN) throw std::runtime_error(archiveError(reader.get(), context));
        extractMember(reader.get(), entry, tree, seen, budget);
    }
    if (archive_read_close(reader.get()) != ARCHIVE_OK) {
        throw std::runtime_error(archiveError(reader.get(), context));
    }
}

}  // namespace kb::ditto
