// A settings file that is there but whose attributes cannot be read stops the
// run before anything changes, instead of being taken for missing: the user's
// keys would otherwise be replaced by defaults in a run that reports success.

#include "tests/products/huecraft_fixture.h"
#include "tests/support/fault_injecting_file_manager.h"

#include <cerrno>
#include <string>
#include <vector>

namespace kb::test {
namespace {

class UnreadableSettings : public HuecraftInstall {
protected:
    FaultInjectingFileManager faulty{real};
    ScopedFileManager faultyScope{faulty};
};

TEST_F(UnreadableSettings, SettingsWhoseAttributesCannotBeReadStopTheRunUnchanged)
{
    installOlderVersion();
    const std::string settings = R"({"strength": 0.25, "favourite": "teal"})";
    writeSettings(settings, 0644);
    const TreeSnapshot before = homeWithoutBackups();
    const fs::path file = settingsFile;
    faulty.failWhen([file](const Operation& op) { return op.name == "attributes" && op.path == file; }, EIO);

    EXPECT_EQ(failure(), unreadableSettings);
    EXPECT_TRUE(faulty.injected());
    EXPECT_EQ(differences(before, homeWithoutBackups()), std::vector<std::string>{});
    EXPECT_EQ(readText(settingsFile), settings);
    ASSERT_EQ(backupFolders().size(), 1u);
    EXPECT_TRUE(fs::is_empty(backupFolders()[0]));
}

TEST_F(UnreadableSettings, ASettingsFileThatIsNotThereStillMeansDefaults)
{
    const fs::path file = settingsFile;
    // Any other file may fail; the settings file's absence is all that is asked.
    faulty.failWhen([file](const Operation& op) { return op.name == "openForReading" && op.path == file; }, EIO);
    install();
    EXPECT_EQ(nlohmann::json::parse(readText(settingsFile)).at("strength"), 0.65);
    EXPECT_FALSE(faulty.injected());
}

}  // namespace
}  // namespace kb::test
