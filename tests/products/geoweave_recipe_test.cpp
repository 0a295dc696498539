// The geoweave recipe in test mode, through the install frame.

#include "tests/products/geoweave_fixture.h"

#include "products/run_context.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

TEST_F(GeoweaveInstall, FirstInstallationPutsThePluginAndAnAgentForTheOfxFolderAlone)
{
    nlohmann::json result = install(true);

    EXPECT_TRUE(recorder.commands.empty());
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 2.0</plist>\n");
    EXPECT_EQ(readText(plugin / "Contents/Linux-x86-64/Geoweave.ofx"), "geoweave 2.0\n");
    EXPECT_EQ(modeOf(plugin / "Contents/Linux-x86-64/Geoweave.ofx"), 0755u);
    EXPECT_EQ(readText(agentFile), launchAgentPropertyList("de.geoweave.ofxpath", ofx.native()));
    EXPECT_EQ(modeOf(agentFile), 0644u);
    AgentContent content = agent();
    EXPECT_EQ(content.keys, (std::vector<std::string>{"Label", "ProgramArguments", "RunAtLoad"}));
    EXPECT_EQ(content.label, "de.geoweave.ofxpath");
    EXPECT_EQ(content.programArguments,
              (std::vector<std::string>{"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", ofx.native()}));
    EXPECT_EQ(content.runAtLoad, true);
    // The scratch copy stays in the run's temporary folder.
    EXPECT_EQ(readText(temp / "new-agent.plist"), readText(agentFile));

    ASSERT_EQ(backupFolders().size(), 1u);
    const fs::path backup = backupFolders().front();
    EXPECT_EQ(result, (nlohmann::json{{"product", "Geoweave"},
                                      {"version", "2.0"},
                                      {"testHome", true},
                                      {"backupDirectory", backup.native()},
                                      {"plugin", plugin.native()},
                                      {"launchAgent", agentFile.native()},
                                      {"existingSearchPathsPreserved", true}}));
    EXPECT_EQ(nlohmann::json::parse(readText(backup / "INSTALLATION.json")), result);
    // Nothing was there to back up.
    EXPECT_FALSE(fs::exists(backup / "Geoweave.ofx.bundle"));
    EXPECT_FALSE(fs::exists(backup / "de.geoweave.ofxpath.plist"));
}

TEST_F(GeoweaveInstall, ASecondInstallationBacksUpBundleAndAgentAndKeepsTheEarlierSearchPathOnce)
{
    earlierInstallation("/Volumes/Fx/OFX:" + ofx.native() + ":/opt/ofx");
    const std::string earlierAgent = readText(agentFile);

    install(true);

    EXPECT_TRUE(recorder.commands.empty());
    EXPECT_EQ(agent().programArguments,
              (std::vector<std::string>{"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH",
                                        "/Volumes/Fx/OFX:" + ofx.native() + ":/opt/ofx"}));
    EXPECT_EQ(modeOf(agentFile), 0644u);
    EXPECT_EQ(readText(plugin / "Contents/Info.plist"), "<plist>Geoweave 2.0</plist>\n");
    ASSERT_EQ(backupFolders().size(), 1u);
    const fs::path backup = backupFolders().front();
    EXPECT_EQ(readText(backup / "Geoweave.ofx.bundle/Contents/Info.plist"), "<plist>Geoweave 1.0</plist>\n");
    EXPECT_EQ(readText(backup / "de.geoweave.ofxpath.plist"), earlierAgent);
    EXPECT_EQ(modeOf(backup / "de.geoweave.ofxpath.plist"), 0600u);
}

TEST_F(GeoweaveInstall, AnEarlierAgentsPathsComeBeforeTheOfxFolder)
{
    earlierInstallation("/x:/y");
    install(true);
    EXPECT_EQ(agent().programArguments.at(3), "/x:/y:" + ofx.native());
}

TEST_F(GeoweaveInstall, AnEarlierAgentOfAnotherShapeIsPassedOverSilently)
{
    for (const std::string& content :
         {std::string("not a property list"), launchAgentPropertyList("de.geoweave.ofxpath", "/x").substr(0, 200),
          std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>/x</string></array></plist>"),
          std::string()}) {
        SCOPED_TRACE(content);
        writeFile(agentFile, content);
        install(true);
        EXPECT_EQ(agent().programArguments.at(3), ofx.native());
    }
}

TEST_F(GeoweaveInstall, AFolderInPlaceOfTheAgentIsPassedOverAndBackedUp)
{
    // Reading the folder contributes nothing; the transaction backs it up
    // like any other item it replaces.
    writeFile(agentFile / "inside", "x");
    install(true);
    EXPECT_EQ(agent().programArguments.at(3), ofx.native());
    EXPECT_EQ(readText(backupFolders().front() / "de.geoweave.ofxpath.plist/inside"), "x");
}

TEST_F(GeoweaveInstall, TestModeDoesNotLookAtTheLiveSearchPathOrTheEnvironment)
{
    answer("getenv", 0, "/from/launchd\n");
    ownSearchPath.set("/from/environment");
    install(true);
    EXPECT_TRUE(recorder.commands.empty());
    EXPECT_EQ(agent().programArguments.at(3), ofx.native());
}

TEST_F(GeoweaveInstall, TheInstallersRecipeBookCarriesGeoweave)
{
    const RecipeBook& book = productRecipes();
    ASSERT_TRUE(book.contains("geoweave"));
    nlohmann::json result = runInstallation(book, product, payload, temp, home, true);
    EXPECT_EQ(result.at("plugin"), plugin.native());
    EXPECT_EQ(result.at("launchAgent"), agentFile.native());
}

}  // namespace
}  // namespace kb::test
