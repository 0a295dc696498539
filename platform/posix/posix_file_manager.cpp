#include "platform/posix/posix_file_manager.h"

#include "platform/posix/file_tree.h"
#include "platform/posix/system_calls.h"
#include "platform/random_uuid.h"
#include "platform/system_error.h"
#include "platform/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>

namespace kb {

namespace {

using namespace file_tree;

class PosixInputFile final : public InputFile {
public:
    PosixInputFile(UniqueFd fd, Path path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::size_t read(std::span<std::byte> buffer) override
    {
        for (;;) {
            ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throwErrno("read", path_);
        }
    }

private:
    UniqueFd fd_;
    Path path_;
};

// A folder to look names up in and to make, rename and remove items in, by
// names relative to it; it need not be readable (a drop folder of mode 0333
// is not).
#if defined(O_PATH)
constexpr int lookUpOnly = O_PATH;
#elif defined(O_SEARCH)
constexpr int lookUpOnly = O_SEARCH;
#else
constexpr int lookUpOnly = O_RDONLY;
#endif

// Links followed before a path counts as a loop, as the kernel counts them.
constexpr int maxLinks = 40;

// The pieces of a "/"-separated text, empty ones left out.
std::deque<std::string> piecesOf(std::string_view text)
{
    std::deque<std::string> pieces;
    while (!text.empty()) {
        const std::size_t slash = text.find('/');
        if (slash != 0) pieces.emplace_back(text.substr(0, slash));
        if (slash == std::string_view::npos) break;
        text.remove_prefix(slash + 1);
    }
    return pieces;
}

// Whether the pieces of `text` begin with those of `folder`; the rest of them
// is then left in `rest`.
bool startsWithFolder(std::string_view text, std::string_view folder, std::deque<std::string>& rest)
{
    std::deque<std::string> pieces = piecesOf(text);
    for (const std::string& name : piecesOf(folder)) {
        if (pieces.empty() || pieces.front() != name) return false;
        pieces.pop_front();
    }
    rest = std::move(pieces);
    return true;
}

UniqueFd openIn(int folder, const char* name)
{
    return UniqueFd(::openat(folder, name, lookUpOnly | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::string linkText(int folder, const std::string& name, std::string_view action, const Path& shown)
{
    std::string text(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(folder, name.c_str(), text.data(), text.size());
        if (length < 0) throwErrno(action, shown);
        if (static_cast<std::size_t>(length) < text.size()) return text.substr(0, static_cast<std::size_t>(length));
        text.resize(text.size() * 2);
    }
}

// Opens the folder the `pending` pieces name below `root`, one folder at a
// time, none of them through a link: a link met on the way is followed by its
// text, as long as that text stays inside the root; ".." goes back along the
// folders the walk came down, and never above the root. A piece that does not
// exist is made a folder when `make` is set. Anything that would leave the
// root fails with EXDEV, naming `shown` and `action`.
UniqueFd walkBeneath(const PosixFileManager::Root& root, std::deque<std::string> pending, bool make,
                     std::string_view action, const Path& shown)
{
    const auto refuse = [&](int error) { throwSystemError(error, action, shown); };
    const auto top = [&] {
        UniqueFd fd(::openat(root.folder.get(), ".", lookUpOnly | O_DIRECTORY | O_CLOEXEC));
        if (!fd) refuse(errno);
        return fd;
    };
    UniqueFd at = top();
    std::vector<std::string> names;  // the folders from the root down to `at`
    int links = 0, steps = 0;
    while (!pending.empty()) {
        if (++steps > 4096) refuse(ELOOP);  // folders that vanish as soon as they are made
        std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            // Back along the names from the root, never through a folder's own
            // "..": the folder may have been moved elsewhere meanwhile.
            if (names.empty()) refuse(EXDEV);
            names.pop_back();
            at = top();
            for (const std::string& folder : names) {
                UniqueFd next = openIn(at.get(), folder.c_str());
                if (!next) refuse(errno == ELOOP || errno == ENOTDIR ? EXDEV : errno);
                at = std::move(next);
            }
            continue;
        }
        if (UniqueFd next = openIn(at.get(), name.c_str())) {
            at = std::move(next);
            names.push_back(std::move(name));
            continue;
        }
        const int error = errno;
        struct stat st {};
        if (::fstatat(at.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            if (++links > maxLinks) refuse(ELOOP);
            const std::string text = linkText(at.get(), name, action, shown);
            std::deque<std::string> next = piecesOf(text);
            if (text.starts_with('/')) {
                if (!startsWithFolder(text, root.real, next) && !startsWithFolder(text, root.given, next)) refuse(EXDEV);
                at = top();
                names.clear();
            }
            pending.insert(pending.begin(), next.begin(), next.end());
            continue;
        }
        if (error == ENOENT && make) {
            if (::mkdirat(at.get(), name.c_str(), 0777) != 0 && errno != EEXIST) refuse(errno);
            pending.push_front(std::move(name));
            continue;
        }
        refuse(error);
    }
    return at;
}

// The same, in one call where the system has one and the path needs nothing
// it refuses (an absolute link, a missing folder): the walk decides otherwise.
UniqueFd openBeneath(const PosixFileManager::Root& root, const std::deque<std::string>& pieces, bool make,
                     std::string_view action, const Path& shown)
{
    if (!make) {
        std::string relative = ".";
        for (const std::string& piece : pieces) relative += "/" + piece;
        if (UniqueFd fd(system_calls::openBeneath(root.folder.get(), relative.c_str())); fd) return fd;
    }
    return walkBeneath(root, pieces, make, action, shown);
}

class PosixConfinement final : public Confinement {
public:
    PosixConfinement(std::vector<PosixFileManager::Root>& roots, std::uint64_t id) : roots_(roots), id_(id) {}
    ~PosixConfinement() override
    {
        std::erase_if(roots_, [this](const PosixFileManager::Root& root) { return root.id == id_; });
    }
    PosixConfinement(const PosixConfinement&) = delete;
    PosixConfinement& operator=(const PosixConfinement&) = delete;

private:
    std::vector<PosixFileManager::Root>& roots_;
    std::uint64_t id_;
};

}  // namespace

std::unique_ptr<Confinement> PosixFileManager::confine(const Path& root)
{
    UniqueFd folder(::open(root.c_str(), lookUpOnly | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throwErrno("open folder", root);
    std::string given = root.lexically_normal().native();
    while (given.size() > 1 && given.back() == '/') given.pop_back();
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(root.c_str(), nullptr), &std::free);
    const std::uint64_t id = nextRoot_++;
    roots_.push_back({id, given, real ? std::string(real.get()) : given, std::move(folder)});
    return std::make_unique<PosixConfinement>(roots_, id);
}

const PosixFileManager::Root* PosixFileManager::confinedRoot(const Path& path, std::deque<std::string>& below) const
{
    for (auto root = roots_.rbegin(); root != roots_.rend(); ++root) {
        std::deque<std::string> rest;
        if (!startsWithFolder(path.native(), root->given, rest) || !path.native().starts_with('/')) continue;
        while (!rest.empty() && rest.back() == ".") rest.pop_back();
        if (rest.empty()) return nullptr;  // the root itself, reached as it was given
        below = std::move(rest);
        return &*root;
    }
    return nullptr;
}

PosixFileManager::Spot PosixFileManager::spot(const Path& path, std::string_view action)
{
    std::deque<std::string> below;
    const Root* root = confinedRoot(path, below);
    if (!root) return {UniqueFd(), AT_FDCWD, path.native()};
    std::string name = std::move(below.back());
    below.pop_back();
    if (name == "..") throwSystemError(EXDEV, action, path);
    UniqueFd holder = openBeneath(*root, below, false, action, path);
    const int folder = holder.get();
    return {std::move(holder), folder, std::move(name)};
}

UniqueFd PosixFileManager::openFolderItself(const Path& path, bool make, std::string_view action)
{
    std::deque<std::string> below;
    if (const Root* root = confinedRoot(path, below)) {
        UniqueFd found = openBeneath(*root, below, make, action, path);
        UniqueFd folder(::openat(found.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder) throwErrno(action, path);
        return folder;
    }
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throwErrno(action, path);
    return folder;
}

void PosixFileManager::createDirectory(const Path& path)
{
    std::deque<std::string> below;
    if (const Root* root = confinedRoot(path, below)) {
        openBeneath(*root, below, true, "create folder", path);
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throwSystemError(error.value(), "create folder", path);
}

void PosixFileManager::setPermissions(const Path& path, unsigned mode)
{
    const Spot item = spot(path, "set permissions of");
    struct stat st {};
    if (::fstatat(item.folder, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) throwErrno("set permissions of", path);
    if (S_ISLNK(st.st_mode)) throwSystemError(EOPNOTSUPP, "set permissions through the link", path);
    if (::fchmodat(item.folder, item.name.c_str(), static_cast<mode_t>(mode), 0) != 0)
        throwErrno("set permissions of", path);
}

void PosixFileManager::copyItem(const Path& from, const Path& to, const CopyOptions& options)
{
    const Spot source = spot(from, "read attributes of"), target = spot(to, "create");
    file_tree::copy(source.folder, source.name.c_str(), from, target.folder, target.name.c_str(), to, options);
}

void PosixFileManager::moveItem(const Path& from, const Path& to)
{
    const Spot source = spot(from, "move"), target = spot(to, "move");
    system_calls::renameWithoutReplacing({source.folder, source.name.c_str(), from},
                                         {target.folder, target.name.c_str(), to});
}

void PosixFileManager::exchangeItems(const Path& a, const Path& b)
{
    const Spot first = spot(a, "exchange"), second = spot(b, "exchange");
    system_calls::exchange({first.folder, first.name.c_str(), a}, {second.folder, second.name.c_str(), b});
}

void PosixFileManager::removeItem(const Path& path)
{
    const Spot item = spot(path, "remove");
    file_tree::remove(item.folder, item.name.c_str(), path);
}

FileAttributes PosixFileManager::attributes(const Path& path)
{
    const Spot item = spot(path, "read attributes of");
    struct stat st {};
    if (::fstatat(item.folder, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) throwErrno("read attributes of", path);
    return {typeOfMode(st.st_mode), static_cast<std::uint64_t>(st.st_size), static_cast<unsigned>(st.st_mode & 07777),
            st.st_uid == ::geteuid()};
}

std::string PosixFileManager::destinationOfSymbolicLink(const Path& path)
{
    const Spot item = spot(path, "read link");
    return linkText(item.folder, item.name, "read link", path);
}

bool PosixFileManager::isWritable(const Path& path)
{
    try {
        const Spot item = spot(path, "look at");
        return ::faccessat(item.folder, item.name.c_str(), W_OK, AT_EACCESS) == 0;
    } catch (const SystemError&) {
        return false;
    }
}

std::vector<DirectoryEntry> PosixFileManager::contentsOfDirectory(const Path& path)
{
    const UniqueFd folder = openFolderItself(path, false, "open folder");
    std::vector<DirectoryEntry> result;
    for (RawEntry& entry : listEntries(folder.get(), path)) {
        FileType type = FileType::other;
        switch (entry.type) {
        case DT_REG: type = FileType::regular; break;
        case DT_DIR: type = FileType::directory; break;
        case DT_LNK: type = FileType::symlink; break;
        case DT_UNKNOWN: {
            struct stat st {};
            if (::fstatat(folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) type = typeOfMode(st.st_mode);
            break;
        }
        default: break;
        }
        result.push_back({std::move(entry.name), type});
    }
    return result;
}

std::unique_ptr<InputFile> PosixFileManager::openForReading(const Path& path)
{
    const Spot item = spot(path, "open");
    return std::make_unique<PosixInputFile>(openRegularFile(item.folder, item.name.c_str(), 0, path), path);
}

void PosixFileManager::writeAtomically(const Path& path, std::string_view data)
{
    const Spot item = spot(path, "create");
    // The scratch file lies beside the file, reached the same way.
    const std::string scratchFile = "." + path.filename().native() + "." + randomUUID();
    const Path scratch = Path(path).replace_filename(scratchFile);
    const std::string scratchName = Path(item.name).replace_filename(scratchFile).native();
    UniqueFd out(::openat(item.folder, scratchName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out) throwErrno("create", scratch);
    try {
        std::string_view rest = data;
        while (!rest.empty()) {
            ssize_t written = ::write(out.get(), rest.data(), rest.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                throwErrno("write", path);
            }
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        if (system_calls::syncToDisk(out.get()) != 0) throwErrno("write", path);
        int fd = out.release();
        if (::close(fd) != 0) throwErrno("write", path);
        if (::renameat(item.folder, scratchName.c_str(), item.folder, item.name.c_str()) != 0) throwErrno("replace", path);
    } catch (...) {
        ::unlinkat(item.folder, scratchName.c_str(), 0);
        throw;
    }
}

std::unique_ptr<FileLock> PosixFileManager::lockExclusively(const Path& path)
{
    // Read-only, so that a folder can be locked and nothing needs a write; never
    // waiting, so that a FIFO in its place cannot stop the open.
    const Spot item = spot(path, "open");
    UniqueFd fd(::openat(item.folder, item.name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) throwErrno("open", path);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return nullptr;
        if (errno != EINTR) throwErrno("lock", path);
    }
    return std::make_unique<PosixFileLock>(std::move(fd));
}

Path PosixFileManager::homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    passwd entry {};
    passwd* found = nullptr;
    std::array<char, 16384> buffer{};
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    throwSystemError(ENOENT, "find the home folder of user", std::to_string(::getuid()));
}

Path PosixFileManager::temporaryDirectory()
{
    // A TMPDIR that names no folder is passed over, as other tools pass it
    // over, rather than made.
    struct stat st {};
    if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode))
        return tmp;
    return system_calls::temporaryFolder();
}

std::unique_ptr<FileManager> makeSystemFileManager()
{
    return std::make_unique<PosixFileManager>();
}

}  // namespace kb
