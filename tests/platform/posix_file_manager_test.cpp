// The real file manager on real files in temporary folders.

#include "platform/posix_file_manager.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"
#include "tests/support/unprivileged.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <functional>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

const timespec pastTime{1234567890, 123456789};

void setTimes(const fs::path& path)
{
    std::array<timespec, 2> times{pastTime, pastTime};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW), 0) << path;
}

timespec modificationTime(const fs::path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return st.st_mtim;
}

// Runs `action`, which must fail with a std::system_error; returns it.
std::system_error failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::system_error& error) {
        return error;
    }
    ADD_FAILURE() << "no std::system_error was thrown";
    return std::system_error(0, std::generic_category(), "none");
}

std::string quoted(const fs::path& path)
{
    return "\"" + path.native() + "\"";
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class PosixFileManagerTest : public ::testing::Test {
protected:
    // A tree with every kind of item the installer copies.
    fs::path makeSourceTree()
    {
        const fs::path source = dir / "source";
        writeFile(source / "a.txt", "alpha\n", 0640);
        writeFile(source / "empty", "", 0600);
        writeFile(source / "tools" / "run", "#!/bin/sh\necho run\n", 0755);
        writeFile(source / "locked" / "secret", "nur lesen", 0400);
        ::chmod((source / "locked").c_str(), 0555);
        makeLink("a.txt", source / "relative-link");
        makeLink("../outside/data.txt", source / "tools" / "climbing-link");
        makeLink((dir / "outside").native(), source / "absolute-link");
        makeLink("missing-target", source / "dangling-link");
        writeFile(dir / "outside" / "data.txt", "outside\n", 0644);
        setTimes(source / "a.txt");
        setTimes(source / "locked" / "secret");
        setTimes(source / "tools");
        setTimes(source / "locked");
        return source;
    }

    TempDir dir;
    PosixFileManager fm;
};

TEST_F(PosixFileManagerTest, CopyItemCopiesATreeWithContentsModesLinksAndTimes)
{
    const fs::path source = makeSourceTree();
    const TreeSnapshot outsideBefore = snapshot(dir / "outside");
    const fs::path copy = dir / "copy";
    fm.copyItem(source, copy);

    EXPECT_EQ(snapshot(copy), snapshot(source));
    EXPECT_EQ(differences(snapshot(source), snapshot(copy)), std::vector<std::string>{});
    EXPECT_EQ(readText(copy / "a.txt"), "alpha\n");
    EXPECT_EQ(modeOf(copy / "a.txt"), 0640u);
    EXPECT_EQ(modeOf(copy / "empty"), 0600u);
    EXPECT_EQ(modeOf(copy / "tools" / "run"), 0755u);
    EXPECT_EQ(modeOf(copy / "locked"), 0555u);
    EXPECT_EQ(modeOf(copy / "locked" / "secret"), 0400u);
    EXPECT_EQ(readText(copy / "locked" / "secret"), "nur lesen");
    EXPECT_EQ(modeOf(copy), modeOf(source));

    // Links stay links with their text; nothing outside the tree is copied or changed.
    EXPECT_TRUE(fs::is_symlink(copy / "relative-link"));
    EXPECT_EQ(fs::read_symlink(copy / "relative-link"), "a.txt");
    EXPECT_EQ(fs::read_symlink(copy / "tools" / "climbing-link"), "../outside/data.txt");
    EXPECT_EQ(fs::read_symlink(copy / "absolute-link"), dir / "outside");
    EXPECT_EQ(fs::read_symlink(copy / "dangling-link"), "missing-target");
    EXPECT_EQ(snapshot(dir / "outside"), outsideBefore);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"copy", "outside", "source"}));

    for (const fs::path& item : {fs::path("a.txt"), fs::path("locked/secret"), fs::path("tools"), fs::path("locked")}) {
        timespec kept = modificationTime(copy / item);
        EXPECT_EQ(kept.tv_sec, pastTime.tv_sec) << item;
        EXPECT_EQ(kept.tv_nsec, pastTime.tv_nsec) << item;
    }
}

TEST_F(PosixFileManagerTest, CopyItemCopiesALinkGivenAsTheItemAsALink)
{
    writeFile(dir / "target" / "inside.txt", "x");
    makeLink((dir / "target").native(), dir / "link");
    fm.copyItem(dir / "link", dir / "copy");
    EXPECT_TRUE(fs::is_symlink(dir / "copy"));
    EXPECT_EQ(fs::read_symlink(dir / "copy"), dir / "target");
}

TEST_F(PosixFileManagerTest, CopyItemKeepsNamedPipesAndRefusesSockets)
{
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0640), 0);
    fm.copyItem(dir / "pipe", dir / "pipe-copy");
    EXPECT_TRUE(fs::is_fifo(dir / "pipe-copy"));
    EXPECT_EQ(modeOf(dir / "pipe-copy"), 0640u);

    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "sock").native();
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    std::system_error error = failureOf([&] { fm.copyItem(dir / "sock", dir / "sock-copy"); });
    EXPECT_EQ(error.code().value(), EOPNOTSUPP);
    EXPECT_STREQ(error.what(), ("cannot copy special file " + quoted(dir / "sock") + ": Operation not supported").c_str());
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "sock-copy")));
}

TEST_F(PosixFileManagerTest, CopyItemFailsWhenTheDestinationExists)
{
    const fs::path source = makeSourceTree();
    writeFile(dir / "file-there", "old", 0600);
    fs::create_directories(dir / "folder-there" / "keep");
    makeLink("somewhere", dir / "link-there");
    const TreeSnapshot before = snapshot(dir.path());

    std::system_error onFile = failureOf([&] { fm.copyItem(source / "a.txt", dir / "file-there"); });
    EXPECT_EQ(onFile.code(), std::errc::file_exists);
    EXPECT_STREQ(onFile.what(), ("cannot create " + quoted(dir / "file-there") + ": File exists").c_str());
    std::system_error onFolder = failureOf([&] { fm.copyItem(source, dir / "folder-there"); });
    EXPECT_EQ(onFolder.code(), std::errc::file_exists);
    EXPECT_STREQ(onFolder.what(), ("cannot create folder " + quoted(dir / "folder-there") + ": File exists").c_str());
    std::system_error onLink = failureOf([&] { fm.copyItem(source / "a.txt", dir / "link-there"); });
    EXPECT_EQ(onLink.code(), std::errc::file_exists);

    EXPECT_EQ(differences(before, snapshot(dir.path())), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "somewhere")));
}

TEST_F(PosixFileManagerTest, CopyItemOfAMissingItemNamesIt)
{
    std::system_error error = failureOf([&] { fm.copyItem(dir / "missing", dir / "copy"); });
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    EXPECT_STREQ(error.what(), ("cannot read attributes of " + quoted(dir / "missing") + ": No such file or directory").c_str());
}

TEST_F(PosixFileManagerTest, CopyItemCopiesAReadOnlyTreeAsItsUnprivilegedOwner)
{
    const fs::path work = dir / "work";
    writeFile(work / "source" / "locked" / "secret", "nur lesen", 0400);
    writeFile(work / "source" / "locked" / "inner" / "deep", "tief", 0444);
    ::chmod((work / "source" / "locked" / "inner").c_str(), 0555);
    ::chmod((work / "source" / "locked").c_str(), 0555);
    giveToNobody(work, dir.path());

    ProgramRun run = runUnprivileged(testProgram("fm_probe"),
                                     {"copy", (work / "source").native(), (work / "copy").native()});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "copied\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(snapshot(work / "copy"), snapshot(work / "source"));
    EXPECT_EQ(modeOf(work / "copy" / "locked"), 0555u);
    EXPECT_EQ(modeOf(work / "copy" / "locked" / "inner"), 0555u);
    EXPECT_EQ(readText(work / "copy" / "locked" / "inner" / "deep"), "tief");
}

TEST_F(PosixFileManagerTest, RemoveItemRemovesATreeButNeverWhatItsLinksPointAt)
{
    const fs::path source = makeSourceTree();
    makeLink((dir / "outside" / "data.txt").native(), source / "locked" / "file-link");
    // The link is added inside a read-only folder.
    const TreeSnapshot outsideBefore = snapshot(dir / "outside");
    fm.removeItem(source);
    EXPECT_FALSE(fs::exists(fs::symlink_status(source)));
    EXPECT_EQ(snapshot(dir / "outside"), outsideBefore);
    EXPECT_EQ(readText(dir / "outside" / "data.txt"), "outside\n");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"outside"});
}

TEST_F(PosixFileManagerTest, RemoveItemOfALinkToAFolderRemovesOnlyTheLink)
{
    writeFile(dir / "target" / "inside.txt", "bleibt");
    makeLink((dir / "target").native(), dir / "link");
    fm.removeItem(dir / "link");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link")));
    EXPECT_EQ(readText(dir / "target" / "inside.txt"), "bleibt");

    std::system_error error = failureOf([&] { fm.removeItem(dir / "link"); });
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    EXPECT_STREQ(error.what(), ("cannot read attributes of " + quoted(dir / "link") + ": No such file or directory").c_str());
}

TEST_F(PosixFileManagerTest, RemoveItemRemovesReadOnlyFoldersAsTheirUnprivilegedOwner)
{
    const fs::path work = dir / "work";
    writeFile(work / "tree" / "locked" / "secret", "nur lesen", 0400);
    writeFile(work / "tree" / "locked" / "inner" / "deep", "tief", 0444);
    makeLink((dir / "outside").native(), work / "tree" / "locked" / "inner" / "out");
    writeFile(dir / "outside" / "data.txt", "outside\n", 0644);
    ::chmod((work / "tree" / "locked" / "inner").c_str(), 0555);
    ::chmod((work / "tree" / "locked").c_str(), 0555);
    ::chmod((work / "tree").c_str(), 0500);
    giveToNobody(work, dir.path());
    const TreeSnapshot outsideBefore = snapshot(dir / "outside");

    ProgramRun run = runUnprivileged(testProgram("fm_probe"), {"remove", (work / "tree").native()});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "removed\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(work / "tree")));
    EXPECT_EQ(snapshot(dir / "outside"), outsideBefore);
}

TEST_F(PosixFileManagerTest, RemoveItemLeavesAnotherUsersFolderAsItIs)
{
    // Only the owner's own folders are opened up; elsewhere removal fails
    // with the system's error and changes no permissions.
    const fs::path work = dir / "work";
    writeFile(work / "tree" / "foreign" / "file", "fremd", 0644);
    giveToNobody(work, dir.path());
    ASSERT_EQ(::lchown((work / "tree" / "foreign").c_str(), 0, 0), 0);
    ::chmod((work / "tree" / "foreign").c_str(), 0755);

    ProgramRun run = runUnprivileged(testProgram("fm_probe"), {"remove", (work / "tree").native()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "cannot remove " + quoted(work / "tree" / "foreign" / "file") + ": Permission denied\n");
    EXPECT_EQ(readText(work / "tree" / "foreign" / "file"), "fremd");
    EXPECT_EQ(modeOf(work / "tree" / "foreign"), 0755u);
}

TEST_F(PosixFileManagerTest, MoveItemRenamesAndRefusesAnExistingDestination)
{
    writeFile(dir / "from" / "inner.txt", "innen");
    fm.moveItem(dir / "from", dir / "to");
    EXPECT_EQ(readText(dir / "to" / "inner.txt"), "innen");
    EXPECT_FALSE(fs::exists(dir / "from"));

    writeFile(dir / "file", "neu");
    writeFile(dir / "existing-file", "alt");
    fs::create_directories(dir / "empty-folder");
    const TreeSnapshot before = snapshot(dir.path());
    std::system_error ontoFile = failureOf([&] { fm.moveItem(dir / "file", dir / "existing-file"); });
    EXPECT_EQ(ontoFile.code(), std::errc::file_exists);
    EXPECT_STREQ(ontoFile.what(), ("cannot move " + quoted(dir / "file") + ": File exists").c_str());
    // Even an empty folder, which rename(2) would silently replace.
    std::system_error ontoFolder = failureOf([&] { fm.moveItem(dir / "to", dir / "empty-folder"); });
    EXPECT_EQ(ontoFolder.code(), std::errc::file_exists);
    EXPECT_EQ(differences(before, snapshot(dir.path())), std::vector<std::string>{});

    std::system_error missing = failureOf([&] { fm.moveItem(dir / "missing", dir / "elsewhere"); });
    EXPECT_EQ(missing.code(), std::errc::no_such_file_or_directory);
}

TEST_F(PosixFileManagerTest, SetPermissionsChangesTheItemAndRefusesALink)
{
    writeFile(dir / "file", "x", 0644);
    fs::create_directories(dir / "folder");
    fm.setPermissions(dir / "file", 0600);
    fm.setPermissions(dir / "folder", 0700);
    EXPECT_EQ(modeOf(dir / "file"), 0600u);
    EXPECT_EQ(modeOf(dir / "folder"), 0700u);

    makeLink((dir / "file").native(), dir / "link");
    std::system_error error = failureOf([&] { fm.setPermissions(dir / "link", 0777); });
    EXPECT_EQ(error.code().value(), EOPNOTSUPP);
    EXPECT_STREQ(error.what(),
                 ("cannot set permissions through the link " + quoted(dir / "link") + ": Operation not supported").c_str());
    EXPECT_EQ(modeOf(dir / "file"), 0600u);

    std::system_error missing = failureOf([&] { fm.setPermissions(dir / "missing", 0700); });
    EXPECT_EQ(missing.code(), std::errc::no_such_file_or_directory);
    EXPECT_STREQ(missing.what(), ("cannot set permissions of " + quoted(dir / "missing") + ": No such file or directory").c_str());
}

TEST_F(PosixFileManagerTest, AttributesDescribeTheItemItselfNotAFinalLink)
{
    writeFile(dir / "folder" / "file", "12345", 0604);
    makeLink((dir / "folder").native(), dir / "folder-link");
    makeLink("nowhere", dir / "dangling");

    FileAttributes file = fm.attributes(dir / "folder" / "file");
    EXPECT_EQ(file.type, FileType::regular);
    EXPECT_EQ(file.size, 5u);
    EXPECT_EQ(file.permissions, 0604u);
    EXPECT_EQ(fm.attributes(dir / "folder").type, FileType::directory);

    FileAttributes link = fm.attributes(dir / "folder-link");
    EXPECT_EQ(link.type, FileType::symlink);
    EXPECT_EQ(link.size, (dir / "folder").native().size());
    EXPECT_EQ(fm.attributes(dir / "dangling").type, FileType::symlink);
    // Links before the last component are followed.
    EXPECT_EQ(fm.attributes(dir / "folder-link" / "file").type, FileType::regular);

    std::system_error missing = failureOf([&] { fm.attributes(dir / "no" / "such"); });
    EXPECT_EQ(missing.code(), std::errc::no_such_file_or_directory);
    EXPECT_STREQ(missing.what(),
                 ("cannot read attributes of " + quoted(dir / "no" / "such") + ": No such file or directory").c_str());
}

TEST_F(PosixFileManagerTest, DestinationOfSymbolicLinkIsTheStoredText)
{
    const std::string longTarget = "../" + std::string(300, 'x') + "/ziel mit Ümlaut";
    makeLink(longTarget, dir / "long");
    EXPECT_EQ(fm.destinationOfSymbolicLink(dir / "long"), longTarget);
    makeLink("./a/../b", dir / "odd");
    EXPECT_EQ(fm.destinationOfSymbolicLink(dir / "odd"), "./a/../b");

    writeFile(dir / "file", "");
    std::system_error notALink = failureOf([&] { fm.destinationOfSymbolicLink(dir / "file"); });
    EXPECT_EQ(notALink.code(), std::errc::invalid_argument);
    EXPECT_STREQ(notALink.what(), ("cannot read link " + quoted(dir / "file") + ": Invalid argument").c_str());
}

TEST_F(PosixFileManagerTest, ContentsOfDirectoryAreSortedByNameWithTheirOwnTypes)
{
    writeFile(dir / "list" / "b", "");
    writeFile(dir / "list" / "a", "");
    writeFile(dir / "list" / "_x", "");
    writeFile(dir / "list" / ".hidden", "");
    fs::create_directories(dir / "list" / "C");
    makeLink("C", dir / "list" / "Ä-link");
    ASSERT_EQ(::mkfifo((dir / "list" / "pipe").c_str(), 0600), 0);

    std::vector<DirectoryEntry> entries = fm.contentsOfDirectory(dir / "list");
    std::vector<std::pair<std::string, FileType>> seen;
    for (const DirectoryEntry& entry : entries) seen.emplace_back(entry.name, entry.type);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, FileType>>{{".hidden", FileType::regular},
                                                                  {"C", FileType::directory},
                                                                  {"_x", FileType::regular},
                                                                  {"a", FileType::regular},
                                                                  {"b", FileType::regular},
                                                                  {"pipe", FileType::other},
                                                                  {"Ä-link", FileType::symlink}}));
    fs::create_directories(dir / "empty");
    EXPECT_TRUE(fm.contentsOfDirectory(dir / "empty").empty());
}

TEST_F(PosixFileManagerTest, ContentsOfDirectoryDoNotFollowALinkGivenAsTheFolder)
{
    writeFile(dir / "real" / "file", "");
    makeLink((dir / "real").native(), dir / "link");
    std::system_error throughLink = failureOf([&] { fm.contentsOfDirectory(dir / "link"); });
    EXPECT_EQ(throughLink.code(), std::errc::not_a_directory);
    EXPECT_STREQ(throughLink.what(), ("cannot open folder " + quoted(dir / "link") + ": Not a directory").c_str());

    std::system_error ofFile = failureOf([&] { fm.contentsOfDirectory(dir / "real" / "file"); });
    EXPECT_EQ(ofFile.code(), std::errc::not_a_directory);
    std::system_error missing = failureOf([&] { fm.contentsOfDirectory(dir / "missing"); });
    EXPECT_EQ(missing.code(), std::errc::no_such_file_or_directory);
}

TEST_F(PosixFileManagerTest, OpenForReadingReadsThePiecesAndRefusesAFolder)
{
    std::string content;
    for (int i = 0; i < 100000; ++i) content += static_cast<char>('a' + i % 26);
    writeFile(dir / "data", content);
    auto input = fm.openForReading(dir / "data");
    std::string read;
    std::array<std::byte, 4096> buffer{};
    for (std::size_t got; (got = input->read(buffer)) != 0;) read.append(reinterpret_cast<const char*>(buffer.data()), got);
    EXPECT_EQ(read, content);
    EXPECT_EQ(input->read(buffer), 0u);

    fs::create_directories(dir / "folder");
    std::system_error folder = failureOf([&] { fm.openForReading(dir / "folder"); });
    EXPECT_EQ(folder.code(), std::errc::is_a_directory);
    EXPECT_STREQ(folder.what(), ("cannot read " + quoted(dir / "folder") + ": Is a directory").c_str());
    std::system_error missing = failureOf([&] { fm.openForReading(dir / "missing"); });
    EXPECT_STREQ(missing.what(), ("cannot open " + quoted(dir / "missing") + ": No such file or directory").c_str());
}

TEST_F(PosixFileManagerTest, WriteAtomicallyReplacesTheFileAndLeavesNoScratch)
{
    writeFile(dir / "out" / "settings.json", "alt und länger", 0600);
    fm.writeAtomically(dir / "out" / "settings.json", "neu");
    EXPECT_EQ(readText(dir / "out" / "settings.json"), "neu");
    fm.writeAtomically(dir / "out" / "fresh", std::string("\0binär\n", 8));
    EXPECT_EQ(readText(dir / "out" / "fresh"), std::string("\0binär\n", 8));
    fm.writeAtomically(dir / "out" / "empty", "");
    EXPECT_EQ(readText(dir / "out" / "empty"), "");
    EXPECT_EQ(namesIn(dir / "out"), (std::vector<std::string>{"empty", "fresh", "settings.json"}));
}

TEST_F(PosixFileManagerTest, WriteAtomicallyGivesNewFilesTheModeTheUmaskAllows)
{
    const mode_t previous = ::umask(022);
    fm.writeAtomically(dir / "open", "x");
    ::umask(077);
    fm.writeAtomically(dir / "private", "x");
    ::umask(027);
    fm.writeAtomically(dir / "group", "x");
    ::umask(previous);
    EXPECT_EQ(modeOf(dir / "open"), 0644u);
    EXPECT_EQ(modeOf(dir / "private"), 0600u);
    EXPECT_EQ(modeOf(dir / "group"), 0640u);
}

TEST_F(PosixFileManagerTest, WriteAtomicallyOverAFolderFailsAndLeavesEverythingAsItWas)
{
    writeFile(dir / "out" / "taken" / "inner", "bleibt");
    const TreeSnapshot before = snapshot(dir / "out");
    std::system_error error = failureOf([&] { fm.writeAtomically(dir / "out" / "taken", "neu"); });
    EXPECT_EQ(error.code(), std::errc::is_a_directory);
    EXPECT_STREQ(error.what(), ("cannot replace " + quoted(dir / "out" / "taken") + ": Is a directory").c_str());
    EXPECT_EQ(differences(before, snapshot(dir / "out")), std::vector<std::string>{});
}

TEST_F(PosixFileManagerTest, WriteAtomicallyIntoAReadOnlyFolderKeepsTheOldFile)
{
    const fs::path work = dir / "work";
    writeFile(work / "locked" / "settings.json", "alt", 0644);
    ::chmod((work / "locked").c_str(), 0555);
    giveToNobody(work, dir.path());
    const TreeSnapshot before = snapshot(work);

    ProgramRun run = runUnprivileged(testProgram("fm_probe"), {"write", (work / "locked" / "settings.json").native(), "neu"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::string prefix = "cannot create \"" + (work / "locked" / ".settings.json.").native();
    EXPECT_TRUE(run.err.starts_with(prefix)) << run.err;
    EXPECT_TRUE(run.err.ends_with("\": Permission denied\n")) << run.err;
    EXPECT_EQ(readText(work / "locked" / "settings.json"), "alt");
    EXPECT_EQ(differences(before, snapshot(work)), std::vector<std::string>{});
}

TEST_F(PosixFileManagerTest, CreateDirectoryMakesParentsAndAcceptsAnExistingFolder)
{
    fm.createDirectory(dir / "a" / "b" / "c");
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    fm.createDirectory(dir / "a" / "b" / "c");
    writeFile(dir / "file", "");
    std::system_error inTheWay = failureOf([&] { fm.createDirectory(dir / "file"); });
    EXPECT_EQ(inTheWay.code(), std::errc::not_a_directory);
    EXPECT_STREQ(inTheWay.what(), ("cannot create folder " + quoted(dir / "file") + ": Not a directory").c_str());
    std::system_error below = failureOf([&] { fm.createDirectory(dir / "file" / "sub"); });
    EXPECT_EQ(below.code(), std::errc::not_a_directory);
}

std::string passwordHome()
{
    passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

TEST_F(PosixFileManagerTest, HomeDirectoryIsAnAbsoluteHomeVariableElseThePasswordEntry)
{
    ASSERT_FALSE(passwordHome().empty());
    ASSERT_NE(passwordHome(), "/somewhere/else");
    {
        ScopedEnvironment home("HOME", "/somewhere/else");
        EXPECT_EQ(fm.homeDirectory(), "/somewhere/else");
    }
    {
        ScopedEnvironment home("HOME", "relative/home");
        EXPECT_EQ(fm.homeDirectory(), passwordHome());
    }
    {
        ScopedEnvironment home("HOME", "");
        EXPECT_EQ(fm.homeDirectory(), passwordHome());
    }
    {
        ScopedEnvironment home("HOME", std::nullopt);
        EXPECT_EQ(fm.homeDirectory(), passwordHome());
    }
}

TEST_F(PosixFileManagerTest, TemporaryDirectoryIsAnAbsoluteTmpdirElseTmp)
{
    {
        ScopedEnvironment tmp("TMPDIR", dir.path().native());
        EXPECT_EQ(fm.temporaryDirectory(), dir.path());
    }
    {
        ScopedEnvironment tmp("TMPDIR", "relative/tmp");
        EXPECT_EQ(fm.temporaryDirectory(), "/tmp");
    }
    {
        ScopedEnvironment tmp("TMPDIR", std::nullopt);
        EXPECT_EQ(fm.temporaryDirectory(), "/tmp");
    }
}

}  // namespace
}  // namespace kb::test
