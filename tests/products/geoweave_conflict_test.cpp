// Refusing a second active copy of the plug-in: the system-wide folder and
// the other folders on the search path.

#include "tests/products/geoweave_fixture.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

const Path systemWideCopy = "/Library/OFX/Plugins/Geoweave.ofx.bundle";

// The real file manager, except that it reports a bundle in the system-wide
// OFX folder, which a test may not create.
class SystemWideCopyFileManager final : public FileManager {
public:
    explicit SystemWideCopyFileManager(FileManager& real) : real_(real) {}
    int asked = 0;

    FileAttributes attributes(const Path& path) override
    {
        if (path == systemWideCopy) {
            ++asked;
            return {FileType::directory, 4096, 0755};
        }
        return real_.attributes(path);
    }
    void createDirectory(const Path& path) override { real_.createDirectory(path); }
    void setPermissions(const Path& path, unsigned mode) override { real_.setPermissions(path, mode); }
    void copyItem(const Path& from, const Path& to) override { real_.copyItem(from, to); }
    void moveItem(const Path& from, const Path& to) override { real_.moveItem(from, to); }
    void removeItem(const Path& path) override { real_.removeItem(path); }
    std::string destinationOfSymbolicLink(const Path& path) override { return real_.destinationOfSymbolicLink(path); }
    bool isWritable(const Path& path) override { return real_.isWritable(path); }
    std::vector<DirectoryEntry> contentsOfDirectory(const Path& path) override
    {
        return real_.contentsOfDirectory(path);
    }
    std::unique_ptr<InputFile> openForReading(const Path& path) override { return real_.openForReading(path); }
    void writeAtomically(const Path& path, std::string_view data) override { real_.writeAtomically(path, data); }
    Path homeDirectory() override { return real_.homeDirectory(); }
    Path temporaryDirectory() override { return real_.temporaryDirectory(); }

private:
    FileManager& real_;
};

class GeoweaveConflict : public GeoweaveInstall {
protected:
    const fs::path otherFolder = dir / "other/OFX";

    void SetUp() override
    {
        GeoweaveInstall::SetUp();
        writeFile(otherFolder / "Geoweave.ofx.bundle/Contents/Info.plist", "<plist>Geoweave 1.5</plist>\n");
    }
};

TEST_F(GeoweaveConflict, ACopyInAnotherSearchFolderStopsTheRunBeforeAnythingChanges)
{
    answer("getenv", 0, "/nowhere:" + otherFolder.native() + "\n");
    TreeSnapshot before = snapshot(home);

    EXPECT_EQ(failure(false), otherFolderMessage);

    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv()}));
    EXPECT_EQ(changesOutsideBackups(before), std::vector<std::string>{});
    EXPECT_EQ(fs::directory_iterator(backupFolders().at(0)), fs::directory_iterator());
    EXPECT_EQ(readText(otherFolder / "Geoweave.ofx.bundle/Contents/Info.plist"), "<plist>Geoweave 1.5</plist>\n");
}

TEST_F(GeoweaveConflict, TheEnvironmentAndAnEarlierAgentAreCheckedToo)
{
    ownSearchPath.set(otherFolder.native() + "/");
    EXPECT_EQ(failure(false), otherFolderMessage);

    ownSearchPath.set(std::nullopt);
    earlierInstallation(otherFolder.native());
    const std::string earlierAgent = readText(agentFile);
    EXPECT_EQ(failure(false), otherFolderMessage);
    EXPECT_EQ(readText(agentFile), earlierAgent);
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 1.0</plist>\n");
}

TEST_F(GeoweaveConflict, ALinkToAnotherCopyIsAnotherCopy)
{
    makeLink((otherFolder / "Geoweave.ofx.bundle").native(), dir / "links/Geoweave.ofx.bundle");
    answer("getenv", 0, (dir / "links").native());
    EXPECT_EQ(failure(false), otherFolderMessage);
}

TEST_F(GeoweaveConflict, TheOfxFolderReachedThroughALinkIsNoConflict)
{
    earlierInstallation("/x");
    makeLink(ofx.native(), dir / "ofx-link");
    answer("getenv", 0, (dir / "ofx-link").native() + "\n");

    install(false);

    const std::string value = (dir / "ofx-link").native() + ":/x:" + ofx.native();
    EXPECT_EQ(agent().programArguments.at(3), value);
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv(), bootout(), bootstrap(), setenv(value)}));
    EXPECT_EQ(readText(backupFolders().at(0) / "Geoweave.ofx.bundle/Contents/Info.plist"),
              "<plist>Geoweave 1.0</plist>\n");
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 2.0</plist>\n");
}

TEST_F(GeoweaveConflict, TheHomeRelativeOfxFolderIsNoConflict)
{
    earlierInstallation("~/OFX");
    install(false);
    EXPECT_EQ(agent().programArguments.at(3), "~/OFX:" + ofx.native());
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 2.0</plist>\n");
}

TEST_F(GeoweaveConflict, AHomeReachedThroughALinkIsNoConflict)
{
    // The home as a link: the entry names the real folder, the plug-in
    // destination the linked one; both lead to the same bundle.
    fs::rename(home, dir / "real-home");
    makeLink((dir / "real-home").native(), home);
    earlierInstallation((dir / "real-home/OFX").native());
    install(false);
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 2.0</plist>\n");
}

TEST_F(GeoweaveConflict, FoldersWithoutTheBundleArePassedOver)
{
    fs::create_directories(dir / "empty/OFX");
    answer("getenv", 0, (dir / "empty/OFX").native() + ":/does/not/exist:relative/OFX");
    install(false);
    EXPECT_EQ(agent().programArguments.at(3),
              (dir / "empty/OFX").native() + ":/does/not/exist:relative/OFX:" + ofx.native());
}

TEST_F(GeoweaveConflict, TheFirstConflictingEntryIsReportedWithoutNamingIt)
{
    writeFile(dir / "second/Geoweave.ofx.bundle", "x");
    answer("getenv", 0, otherFolder.native() + ":" + (dir / "second").native());
    std::string message = failure(false);
    EXPECT_EQ(message, otherFolderMessage);
    EXPECT_EQ(message.find(otherFolder.native()), std::string::npos);
}

TEST_F(GeoweaveConflict, ASystemWideCopyIsRefusedBeforeAnythingChanges)
{
    SystemWideCopyFileManager systemWide(real);
    ScopedFileManager fakeScope(systemWide);
    TreeSnapshot before = snapshot(home);

    EXPECT_EQ(failure(false), systemWideCopyMessage);

    EXPECT_EQ(systemWide.asked, 1);
    EXPECT_EQ(recorder.commands, (std::vector<Command>{getenv()}));
    EXPECT_EQ(changesOutsideBackups(before), std::vector<std::string>{});
}

TEST_F(GeoweaveConflict, TheSystemWideCopyIsReportedBeforeACopyInASearchFolder)
{
    SystemWideCopyFileManager systemWide(real);
    ScopedFileManager fakeScope(systemWide);
    answer("getenv", 0, otherFolder.native());
    EXPECT_EQ(failure(false), systemWideCopyMessage);
}

TEST_F(GeoweaveConflict, TestModeLooksAtNeitherCopy)
{
    SystemWideCopyFileManager systemWide(real);
    ScopedFileManager fakeScope(systemWide);
    ownSearchPath.set(otherFolder.native());
    earlierInstallation(otherFolder.native());
    install(true);
    EXPECT_EQ(systemWide.asked, 0);
    EXPECT_TRUE(recorder.commands.empty());
    EXPECT_EQ(agent().programArguments.at(3), otherFolder.native() + ":" + ofx.native());
}

}  // namespace
}  // namespace kb::test
