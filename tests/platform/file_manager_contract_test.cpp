// The system's file manager on a real temporary folder: how it answers,
// changes and fails; times, special files, permissions that stop an
// unprivileged user, the environment's folders, and folders sealed against
// other writers.

#include "platform/file_manager.h"
#include "platform/scoped_service.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <functional>

namespace kb::test {
namespace {

using Names = std::vector<std::string>;

// The errno of the std::system_error `action` throws, after checking that its
// message names what failed on which path.
int errorOf(const std::function<void()>& action, const std::string& expectedWhat)
{
    try {
        action();
    } catch (const std::system_error& error) {
        EXPECT_EQ(std::string(error.what()), std::system_error(error.code(), expectedWhat).what());
        return error.code().value();
    }
    ADD_FAILURE() << "nothing thrown for: " << expectedWhat;
    return 0;
}

std::string cannot(const std::string& action, const Path& path)
{
    return "cannot " + action + " \"" + path.native() + "\"";
}

// Every item below `root` as one line "path mode kind", read through `fm`.
Names listing(const Path& root, const std::string& prefix = "")
{
    Names lines;
    for (const DirectoryEntry& entry : fm->contentsOfDirectory(root)) {
        const Path path = root / entry.name;
        const FileAttributes attributes = fm->attributes(path);
        std::array<char, 8> mode{};
        std::snprintf(mode.data(), mode.size(), "%o", attributes.permissions);
        std::string line = prefix + entry.name + " " + mode.data();
        if (entry.type != attributes.type) line += " listed with another type";
        if (attributes.type == FileType::regular) lines.push_back(line + " = " + readFile(path, attributes.size));
        if (attributes.type == FileType::symlink) lines.push_back(line + " -> " + fm->destinationOfSymbolicLink(path));
        if (attributes.type == FileType::directory) {
            lines.push_back(line + " /");
            for (std::string& inner : listing(path, prefix + entry.name + "/")) lines.push_back(std::move(inner));
        }
    }
    return lines;
}

// The system file manager in a temporary folder.
class FileManagerContract : public ::testing::Test {
protected:
    // New folders and files get the modes of a umask of 022.
    void SetUp() override { previousMask = ::umask(022); }
    void TearDown() override { ::umask(previousMask); }

    void file(const Path& relative, std::string_view bytes, unsigned mode = 0644) { writeFile(base / relative, bytes, mode); }
    void link(const std::string& target, const Path& relative) { makeLink(target, base / relative); }
    void folder(const Path& relative, unsigned mode)
    {
        fs::create_directories(base / relative);
        fs::permissions(base / relative, fs::perms(mode));
    }
    // A tree with every kind of item the installer copies; `outside` is what its links reach.
    void makeSourceTree()
    {
        file("source/a.txt", "alpha\n", 0640);
        file("source/empty", "", 0600);
        file("source/tools/run", "#!/bin/sh\n", 0755);
        file("source/locked/secret", "nur lesen", 0400);
        file("outside/data.txt", "outside\n");
        link("a.txt", "source/relative-link");
        link("../outside/data.txt", "source/tools/climbing-link");
        link((base / "outside").native(), "source/absolute-link");
        link("missing-target", "source/dangling-link");
        folder("source/tools", 0755);
        folder("source/locked", 0555);
        folder("source", 0750);
    }
    Names sourceTree() const
    {
        return {"a.txt 640 = alpha\n",       "absolute-link 777 -> " + (base / "outside").native(),
                "dangling-link 777 -> missing-target", "empty 600 = ",
                "locked 555 /",              "locked/secret 400 = nur lesen",
                "relative-link 777 -> a.txt", "tools 755 /",
                "tools/climbing-link 777 -> ../outside/data.txt", "tools/run 755 = #!/bin/sh\n"};
    }

    mode_t previousMask = 0;
    TempDir dir;
    std::unique_ptr<FileManager> files = makeSystemFileManager();
    const Path base = dir.path();
    ScopedService<FileManager> use{fm, *files};
};

TEST_F(FileManagerContract, CopyKeepsContentsModesAndLinksAsLinks)
{
    makeSourceTree();
    fm->copyItem(base / "source", base / "copy");
    EXPECT_EQ(listing(base / "copy"), sourceTree());
    EXPECT_EQ(fm->attributes(base / "copy").permissions, 0750u);
    const std::string big(3 * 0x100000 + 5, 'b');  // more than one piece of any copy loop
    file("big", big);
    fm->copyItem(base / "big", base / "big-copy");
    EXPECT_TRUE(readFile(base / "big-copy", big.size()) == big);
    fm->copyItem(base / "source/absolute-link", base / "link-copy");
    EXPECT_EQ(fm->destinationOfSymbolicLink(base / "link-copy"), (base / "outside").native());
    EXPECT_EQ(listing(base / "outside"), Names{"data.txt 644 = outside\n"});
}

TEST_F(FileManagerContract, MoveAndRemoveTakeTreesButNeverWhatLinksPointAt)
{
    makeSourceTree();
    link("outside", "moved-link");
    fm->moveItem(base / "source", base / "moved");
    EXPECT_EQ(listing(base / "moved"), sourceTree());
    link((base / "outside").native(), "moved/locked/folder-link");  // in a read-only folder
    fm->removeItem(base / "moved");
    fm->removeItem(base / "moved-link");
    EXPECT_EQ(listing(base), (Names{"outside 755 /", "outside/data.txt 644 = outside\n"}));
}

TEST_F(FileManagerContract, ExchangeSwapsTwoItemsWithEverythingInThem)
{
    file("tree/inner/a.txt", "a", 0600);
    link("inner/a.txt", "tree/link");
    folder("tree", 0750);
    file("file", "plain", 0640);
    link("file", "link");
#ifdef KB_PORTABLE
    const Names before = listing(base);  // no one-step swap in the portable calls
    EXPECT_EQ(errorOf([&] { fm->exchangeItems(base / "tree", base / "file"); }, cannot("exchange", base / "tree")),
              EOPNOTSUPP);
    EXPECT_EQ(listing(base), before);
    return;
#endif
    fm->exchangeItems(base / "tree", base / "file");
    fm->exchangeItems(base / "link", base / "tree");
    EXPECT_EQ(listing(base), (Names{"file 750 /", "file/inner 755 /", "file/inner/a.txt 600 = a",
                                    "file/link 777 -> inner/a.txt", "link 640 = plain", "tree 777 -> file"}));
    EXPECT_EQ(errorOf([&] { fm->exchangeItems(base / "link", base / "missing"); }, cannot("exchange", base / "link")),
              ENOENT);
    EXPECT_EQ(readFile(base / "link", 5), "plain");
}

TEST_F(FileManagerContract, ReadingGivesTheStoredBytesTypesAndTextsSorted)
{
    std::string content;
    for (int i = 0; i < 100000; ++i) content += static_cast<char>('a' + i % 26);
    file("list/b", content);
    file("list/.hidden", "", 0604);
    file("list/_x", std::string("\0binär\n", 8));
    folder("list/C", 0700);
    const std::string longTarget = "../" + std::string(300, 'x') + "/ziel mit Ümlaut";
    link(longTarget, "list/Ä-link");
    link("C", "list/a");

    std::unique_ptr<InputFile> input = fm->openForReading(base / "list/b");
    std::string read;
    std::array<std::byte, 4096> buffer{};
    for (std::size_t got; (got = input->read(buffer)) != 0;)
        read.append(reinterpret_cast<const char*>(buffer.data()), got);
    EXPECT_EQ(read, content);
    EXPECT_EQ(input->read(buffer), 0u);
    EXPECT_EQ(listing(base / "list"), (Names{".hidden 604 = ", "C 700 /", "_x 644 = " + std::string("\0binär\n", 8),
                                             "a 777 -> C", "b 644 = " + content, "Ä-link 777 -> " + longTarget}));
    // Attributes describe the item itself; links before the last component are followed.
    const FileAttributes ofLink = fm->attributes(base / "list/Ä-link");
    EXPECT_EQ(std::pair(ofLink.type, ofLink.size), std::pair(FileType::symlink, std::uint64_t{longTarget.size()}));
    const FileAttributes throughLink = fm->attributes(base / "list/a/../b");
    EXPECT_EQ(std::pair(throughLink.type, throughLink.size), std::pair(FileType::regular, std::uint64_t{100000}));
    EXPECT_EQ(fm->attributes(base / "list/./C/").type, FileType::directory);  // "." and a closing "/" add nothing
    EXPECT_EQ(fm->contentsOfDirectory(base / "list/a").size(), 0u);  // listed through the link, as C
}

TEST_F(FileManagerContract, WritingCreatesAndReplaces)
{
    file("out/settings.json", "alt und länger", 0600);
    fm->writeAtomically(base / "out/settings.json", "neu");
    fm->writeAtomically(base / "out/empty", "");
    fm->createDirectory(base / "out/a/b");
    fm->createDirectory(base / "out/a/b");
    fm->setPermissions(base / "out/a", 0700);
    EXPECT_EQ(listing(base / "out"), (Names{"a 700 /", "a/b 755 /", "empty 644 = ", "settings.json 644 = neu"}));
}

TEST_F(FileManagerContract, FailuresCarryTheErrnoAndChangeNothing)
{
    file("file", "x");
    file("folder/inner", "y");
    folder("empty", 0755);
    link("folder", "link");
    ::mkfifo((base / "pipe").c_str(), 0644);
    const Names before = listing(base);
    const struct {
        std::function<void()> action;
        std::string what;
        int error;
    } cases[] = {
        {[&] { fm->copyItem(base / "file", base / "folder"); }, cannot("create", base / "folder"), EEXIST},
        {[&] { fm->copyItem(base / "folder", base / "file"); }, cannot("create folder", base / "file"), EEXIST},
        {[&] { fm->copyItem(base / "link", base / "empty"); }, cannot("create link", base / "empty"), EEXIST},
        {[&] { fm->copyItem(base / "missing", base / "new"); }, cannot("read attributes of", base / "missing"), ENOENT},
        {[&] { fm->moveItem(base / "file", base / "empty"); }, cannot("move", base / "file"), EEXIST},
        {[&] { fm->moveItem(base / "file", base / "link"); }, cannot("move", base / "file"), EEXIST},
        {[&] { fm->moveItem(base / "missing", base / "new"); }, cannot("move", base / "missing"), ENOENT},
        {[&] { fm->removeItem(base / "missing"); }, cannot("read attributes of", base / "missing"), ENOENT},
        {[&] { fm->attributes(base / "no/such"); }, cannot("read attributes of", base / "no/such"), ENOENT},
        {[&] { fm->attributes(base / "file/below"); }, cannot("read attributes of", base / "file/below"), ENOTDIR},
        {[&] { fm->destinationOfSymbolicLink(base / "file"); }, cannot("read link", base / "file"), EINVAL},
        {[&] { fm->contentsOfDirectory(base / "file"); }, cannot("open folder", base / "file"), ENOTDIR},
        {[&] { fm->contentsOfDirectory(base / "missing"); }, cannot("open folder", base / "missing"), ENOENT},
        {[&] { fm->openForReading(base / "folder"); }, cannot("read", base / "folder"), EISDIR},
        {[&] { fm->openForReading(base / "missing"); }, cannot("open", base / "missing"), ENOENT},
        {[&] { fm->openForReading(base / "pipe"); }, cannot("read special file", base / "pipe"), EOPNOTSUPP},
        {[&] { fm->writeAtomically(base / "folder", "z"); }, cannot("replace", base / "folder"), EISDIR},
        {[&] { fm->createDirectory(base / "file"); }, cannot("create folder", base / "file"), ENOTDIR},
        {[&] { fm->createDirectory(base / "file/sub"); }, cannot("create folder", base / "file/sub"), ENOTDIR},
        {[&] { fm->setPermissions(base / "link", 0700); }, cannot("set permissions through the link", base / "link"),
         EOPNOTSUPP},
        {[&] { fm->setPermissions(base / "missing", 0700); }, cannot("set permissions of", base / "missing"), ENOENT},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(errorOf(row.action, row.what), row.error) << row.what;
        EXPECT_EQ(listing(base), before) << row.what;
    }
}

// What only the system's file manager on real files has.
class SystemFileManager : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<FileManager> files = makeSystemFileManager();
    ScopedService<FileManager> use{fm, *files};
};

TEST_F(SystemFileManager, CopyKeepsTimesAndNamedPipesAndRefusesSockets)
{
    writeFile(dir / "tree/file", "x");
    ASSERT_EQ(::mkfifo((dir / "tree/pipe").c_str(), 0640), 0);
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400) + std::chrono::nanoseconds(123);
    fs::last_write_time(dir / "tree/file", past);
    fs::last_write_time(dir / "tree", past);
    fm->copyItem(dir / "tree", dir / "copy");
    EXPECT_EQ(fs::last_write_time(dir / "copy/file"), past);
    EXPECT_EQ(fs::last_write_time(dir / "copy"), past);
    EXPECT_TRUE(fs::is_fifo(dir / "copy/pipe"));
    EXPECT_EQ(modeOf(dir / "copy/pipe"), 0640u);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "sock").native();
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    const std::string refusal = cannot("copy special file", dir / "sock");
    EXPECT_EQ(errorOf([&] { fm->copyItem(dir / "sock", dir / "sock-copy"); }, refusal), EOPNOTSUPP);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "sock-copy")));
}

// A copy deeper than the folders a walk keeps open goes back up through
// "..": when the tree was moved meanwhile, that leads to another folder, and
// the copy stops instead of taking that folder's entries for the tree's.
TEST_F(SystemFileManager, ACopyStopsWhenItsTreeIsMovedWhileItIsDeepInIt)
{
    Path deep = dir / "tree/moved";
    for (int level = 0; level < 40; ++level) deep /= "d";
    writeFile(deep / "file", "tief");
    writeFile(dir / "tree/z", "eigen");
    writeFile(dir / "elsewhere/z", "fremd");
    CopyOptions options;
    options.copied = [&](std::uint64_t) {
        if (fs::exists(dir / "tree/moved")) fs::rename(dir / "tree/moved", dir / "elsewhere/moved");
    };
    EXPECT_EQ(errorOf([&] { fm->copyItem(dir / "tree", dir / "copy", options); }, cannot("open folder", dir / "tree")),
              ESTALE);
    EXPECT_TRUE(!fs::exists(dir / "copy/z") || readText(dir / "copy/z") == "eigen");
}

TEST_F(SystemFileManager, NewFilesGetTheModeTheUmaskAllows)
{
    for (auto [mask, mode] : {std::pair<mode_t, unsigned>{022, 0644}, {077, 0600}, {027, 0640}}) {
        const mode_t previous = ::umask(mask);
        fm->writeAtomically(dir / "file", "x");
        ::umask(previous);
        EXPECT_EQ(modeOf(dir / "file"), mode);
    }
}

// As nobody (the tests run as root): read-only trees of one's own can be
// copied and removed; a read-only folder keeps its file; another user's
// folder stays as it is.
TEST_F(SystemFileManager, PermissionBitsAsAnUnprivilegedOwner)
{
    const fs::path work = dir / "work";
    writeFile(work / "tree/locked/inner/deep", "tief", 0444);
    writeFile(work / "tree/locked/secret", "nur lesen", 0400);
    makeLink(dir.path().native(), work / "tree/locked/inner/out");
    writeFile(work / "settings/settings.json", "alt");
    writeFile(work / "foreign/file", "fremd");
    for (const char* locked : {"tree/locked/inner", "tree/locked", "tree", "settings"})
        ::chmod((work / locked).c_str(), 0555);
    giveToNobody(work, dir.path());
    ASSERT_EQ(::chown((work / "foreign").c_str(), 0, 0), 0);
    ::chmod((work / "foreign").c_str(), 0755);
    const Tree settings = picture(work / "settings");
    auto probe = [&](const std::vector<std::string>& arguments) {
        const test::Run probed = run(buildDir() / "test-programs/fm_probe", arguments, {.unprivileged = true});
        return probed.out + probed.err + std::to_string(probed.status);
    };

    EXPECT_EQ(probe({"copy", (work / "tree").native(), (work / "copy").native()}), "copied\n0");
    EXPECT_EQ(modeOf(work / "copy/locked/inner"), 0555u);
    EXPECT_EQ(readText(work / "copy/locked/inner/deep"), "tief");
    EXPECT_EQ(probe({"remove", (work / "tree").native()}), "removed\n0");
    EXPECT_FALSE(fs::exists(fs::symlink_status(work / "tree")));  // and not what its link leads to (below)
    const std::string refused = probe({"write", (work / "settings/settings.json").native(), "neu"});
    EXPECT_TRUE(refused.starts_with("cannot create \"" + (work / "settings/.settings.json.").native())) << refused;
    EXPECT_TRUE(refused.ends_with("\": Permission denied\n1")) << refused;
    EXPECT_EQ(picture(work / "settings"), settings);
    EXPECT_EQ(probe({"remove", (work / "foreign").native()}),
              cannot("remove", work / "foreign/file") + ": Permission denied\n1");
    EXPECT_EQ(modeOf(work / "foreign"), 0755u);
    EXPECT_EQ(readText(work / "foreign/file"), "fremd");
}

TEST_F(SystemFileManager, HomeAndTemporaryFolderComeFromAbsoluteVariablesThatNameFolders)
{
    passwd* entry = ::getpwuid(::getuid());
    ASSERT_TRUE(entry && entry->pw_dir && std::string(entry->pw_dir) != "/elsewhere");
    const struct {
        const char* variable;
        std::optional<std::string> value;
        Path expected;
    } cases[] = {{"HOME", "/elsewhere", "/elsewhere"}, {"HOME", "relative", entry->pw_dir}, {"HOME", "", entry->pw_dir},
                 {"HOME", std::nullopt, entry->pw_dir}, {"TMPDIR", dir.path().native(), dir.path()},
                 {"TMPDIR", "/elsewhere", "/tmp"},     {"TMPDIR", "relative", "/tmp"}, {"TMPDIR", std::nullopt, "/tmp"}};
    for (const auto& row : cases) {
        ScopedEnv variable(row.variable, row.value);
        EXPECT_EQ(row.variable == std::string("HOME") ? fm->homeDirectory() : fm->temporaryDirectory(), row.expected)
            << row.variable << "=" << row.value.value_or("(unset)");
    }
}

}  // namespace
}  // namespace kb::test
