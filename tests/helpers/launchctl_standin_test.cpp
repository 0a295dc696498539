// The launchctl stand-in run as the installer runs it, on a domain kept
// below a temporary home.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <plist/plist.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kb::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string agentXml(const std::string& label, const std::vector<std::string>& arguments, bool runAtLoad)
{
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "Label", plist_new_string(label.c_str()));
    plist_t list = plist_new_array();
    for (const std::string& argument : arguments) plist_array_append_item(list, plist_new_string(argument.c_str()));
    plist_dict_set_item(root, "ProgramArguments", list);
    plist_dict_set_item(root, "RunAtLoad", plist_new_bool(runAtLoad ? 1 : 0));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &bytes, &length);
    std::string text(bytes, length);
    plist_to_xml_free(bytes);
    plist_free(root);
    return text;
}

class LaunchctlStandIn : public ::testing::Test {
protected:
    TempDir root;
    const fs::path home = root / "home";
    const fs::path program = builtBundle() / "Contents/Helpers/launchctl";
    const std::string uid = std::to_string(::getuid());
    const std::string domain = "gui/" + uid;
    const fs::path stateFolder = home / ".local/state/kestrelbay-launchd";
    const fs::path stateFile = stateFolder / ("gui-" + uid + ".json");

    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(program)) << program;
        fs::create_directories(home);
    }

    ProgramRun launchctl(const std::vector<std::string>& arguments, const fs::path& userHome = {},
                         const fs::path& workingDirectory = {}) const
    {
        RunOptions options;
        options.environment["HOME"] = (userHome.empty() ? home : userHome).native();
        options.workingDirectory = workingDirectory;
        return runProgram(program, arguments, options);
    }

    void expectRun(const ProgramRun& run, int status, const std::string& out, const std::string& err) const
    {
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, err);
    }

    json state() const { return json::parse(readText(stateFile)); }

    fs::path agent(const std::string& name, const std::string& label, const std::vector<std::string>& arguments,
                   bool runAtLoad = true) const
    {
        fs::path file = root / name;
        writeFile(file, agentXml(label, arguments, runAtLoad));
        return file;
    }
};

TEST_F(LaunchctlStandIn, GetenvOfAnUnsetVariablePrintsNothingAndSucceeds)
{
    expectRun(launchctl({"getenv", "OFX_PLUGIN_PATH"}), 0, "", "");
    EXPECT_FALSE(fs::exists(stateFolder));
}

TEST_F(LaunchctlStandIn, SetenvThenGetenvPrintsTheValueAndALineFeed)
{
    expectRun(launchctl({"setenv", "OFX_PLUGIN_PATH", " /Volumes/Fx/OFX:/opt/ofx "}), 0, "", "");
    expectRun(launchctl({"getenv", "OFX_PLUGIN_PATH"}), 0, " /Volumes/Fx/OFX:/opt/ofx \n", "");
    expectRun(launchctl({"setenv", "OFX_PLUGIN_PATH", "/second"}), 0, "", "");
    expectRun(launchctl({"getenv", "OFX_PLUGIN_PATH"}), 0, "/second\n", "");
    expectRun(launchctl({"getenv", "OTHER"}), 0, "", "");
}

TEST_F(LaunchctlStandIn, UnsetenvRemovesTheVariableAndAcceptsAnUnsetOne)
{
    launchctl({"setenv", "OFX_PLUGIN_PATH", "/a"});
    launchctl({"setenv", "KEEP", "1"});
    expectRun(launchctl({"unsetenv", "OFX_PLUGIN_PATH"}), 0, "", "");
    expectRun(launchctl({"getenv", "OFX_PLUGIN_PATH"}), 0, "", "");
    expectRun(launchctl({"unsetenv", "OFX_PLUGIN_PATH"}), 0, "", "");
    expectRun(launchctl({"getenv", "KEEP"}), 0, "1\n", "");
}

TEST_F(LaunchctlStandIn, TheDomainLivesInOnePrivateFileBelowHome)
{
    launchctl({"setenv", "OFX_PLUGIN_PATH", "/a:/b"});
    EXPECT_EQ(readText(stateFile),
              "{\n"
              "  \"environment\": {\n"
              "    \"OFX_PLUGIN_PATH\": \"/a:/b\"\n"
              "  },\n"
              "  \"loaded\": {}\n"
              "}\n");
    EXPECT_EQ(modeOf(stateFile), 0600u);
    // Written by renaming a scratch file: nothing else is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(stateFolder)) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{stateFile.filename()});
}

TEST_F(LaunchctlStandIn, EveryHomeHasItsOwnDomain)
{
    const fs::path otherHome = root / "other";
    fs::create_directories(otherHome);
    launchctl({"setenv", "OFX_PLUGIN_PATH", "/mine"});
    expectRun(launchctl({"getenv", "OFX_PLUGIN_PATH"}, otherHome), 0, "", "");
    EXPECT_FALSE(fs::exists(otherHome / ".local"));
}

TEST_F(LaunchctlStandIn, BootstrapLoadsTheAgentAndRunsItsLaunchctlCommandAsItself)
{
    fs::path file = agent("a.plist", "de.geoweave.ofxpath", {"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", "/x:/y"});
    expectRun(launchctl({"bootstrap", domain, file.native()}), 0, "", "");
    expectRun(launchctl({"getenv", "OFX_PLUGIN_PATH"}), 0, "/x:/y\n", "");
    EXPECT_EQ(state(), json({{"environment", {{"OFX_PLUGIN_PATH", "/x:/y"}}},
                             {"loaded", {{"de.geoweave.ofxpath", file.native()}}}}));
}

TEST_F(LaunchctlStandIn, BootstrapRecordsTheAgentFileByItsAbsolutePath)
{
    agent("relative.plist", "de.example.relative", {"/bin/true"});
    expectRun(launchctl({"bootstrap", domain, "relative.plist"}, {}, root.path()), 0, "", "");
    EXPECT_EQ(state().at("loaded"), json({{"de.example.relative", (root / "relative.plist").native()}}));
}

TEST_F(LaunchctlStandIn, BootstrapRunsAnyOtherProgramAsGivenWithItsOutputDiscarded)
{
    const fs::path mark = root / "ran";
    fs::path file = agent("job.plist", "de.example.job",
                          {"/bin/sh", "-c", "echo job output; echo \"$0 $1\" >> '" + mark.native() + "'", "zero", "one"});
    expectRun(launchctl({"bootstrap", domain, file.native()}), 0, "", "");
    EXPECT_EQ(readText(mark), "zero one\n");
}

TEST_F(LaunchctlStandIn, AnAgentThatDoesNotRunAtLoadIsOnlyLoaded)
{
    const fs::path mark = root / "ran";
    fs::path file = agent("idle.plist", "de.example.idle", {"/bin/sh", "-c", "touch '" + mark.native() + "'"}, false);
    expectRun(launchctl({"bootstrap", domain, file.native()}), 0, "", "");
    EXPECT_FALSE(fs::exists(mark));
    EXPECT_EQ(state().at("loaded"), json({{"de.example.idle", file.native()}}));
}

TEST_F(LaunchctlStandIn, ABinaryAgentLoadsToo)
{
    plist_t parsed = nullptr;
    const std::string xml = agentXml("de.example.binary", {"/bin/launchctl", "setenv", "FROM", "binary"}, true);
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &parsed);
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(parsed, &bytes, &length);
    writeFile(root / "binary.plist", std::string(bytes, length));
    plist_to_bin_free(bytes);
    plist_free(parsed);

    expectRun(launchctl({"bootstrap", domain, (root / "binary.plist").native()}), 0, "", "");
    expectRun(launchctl({"getenv", "FROM"}), 0, "binary\n", "");
}

TEST_F(LaunchctlStandIn, BootstrapRefusesAMissingOrInvalidFileAndALoadedLabel)
{
    const std::string failed = "Bootstrap failed: 5: Input/output error\n";
    expectRun(launchctl({"bootstrap", domain, (root / "missing.plist").native()}), 5, "", failed);
    writeFile(root / "garbage.plist", "no property list");
    expectRun(launchctl({"bootstrap", domain, (root / "garbage.plist").native()}), 5, "", failed);
    writeFile(root / "nolabel.plist", agentXml("", {"/bin/true"}, true));
    expectRun(launchctl({"bootstrap", domain, (root / "nolabel.plist").native()}), 5, "", failed);
    fs::path noProgram = agent("noprogram.plist", "de.example.noprogram", {}, true);
    expectRun(launchctl({"bootstrap", domain, noProgram.native()}), 5, "", failed);
    EXPECT_FALSE(fs::exists(stateFile));

    const fs::path count = root / "count";
    fs::path file = agent("once.plist", "de.example.once", {"/bin/sh", "-c", "echo x >> '" + count.native() + "'"});
    expectRun(launchctl({"bootstrap", domain, file.native()}), 0, "", "");
    expectRun(launchctl({"bootstrap", domain, file.native()}), 5, "", failed);
    EXPECT_EQ(readText(count), "x\n");
}

TEST_F(LaunchctlStandIn, BootoutUnloadsALoadedAgentAndRefusesAnUnknownOne)
{
    fs::path file = agent("a.plist", "de.geoweave.ofxpath", {"/bin/true"});
    launchctl({"bootstrap", domain, file.native()});
    expectRun(launchctl({"bootout", domain + "/de.geoweave.ofxpath"}), 0, "", "");
    EXPECT_EQ(state().at("loaded"), json::object());
    expectRun(launchctl({"bootout", domain + "/de.geoweave.ofxpath"}), 3, "", "Boot-out failed: 3: No such process\n");
    // Unloaded, it can be loaded again.
    expectRun(launchctl({"bootstrap", domain, file.native()}), 0, "", "");
}

TEST_F(LaunchctlStandIn, AnotherUsersOrAMalformedDomainIsAUsageError)
{
    const std::string other = "gui/" + std::to_string(::getuid() + 1);
    const std::string bootstrapUsage =
        "Unrecognized target specifier.\nUsage: launchctl bootstrap <domain-target> <service-path>\n";
    const std::string bootoutUsage = "Unrecognized target specifier.\nUsage: launchctl bootout <service-target>\n";
    fs::path file = agent("a.plist", "de.example.a", {"/bin/true"});
    for (const std::string& bad : std::vector<std::string>{other, "user/" + uid, "gui/", "gui/+" + uid, "gui/" + uid + "x", "gui/" + uid + "/"}) {
        SCOPED_TRACE(bad);
        expectRun(launchctl({"bootstrap", bad, file.native()}), 64, "", bootstrapUsage);
    }
    for (const std::string& bad : std::vector<std::string>{other + "/de.example.a", "gui/" + uid, "gui/" + uid + "/", "de.example.a"}) {
        SCOPED_TRACE(bad);
        expectRun(launchctl({"bootout", bad}), 64, "", bootoutUsage);
    }
    EXPECT_FALSE(fs::exists(stateFile));
}

TEST_F(LaunchctlStandIn, UnknownSubcommandsAndWrongArgumentCountsAreUsageErrors)
{
    expectRun(launchctl({}), 64, "", "Usage: launchctl <subcommand> ...\n");
    expectRun(launchctl({"list"}), 64, "", "Unrecognized subcommand: list\nUsage: launchctl <subcommand> ...\n");
    expectRun(launchctl({"getenv"}), 64, "", "Usage: launchctl getenv <key>\n");
    expectRun(launchctl({"getenv", "A", "B"}), 64, "", "Usage: launchctl getenv <key>\n");
    expectRun(launchctl({"setenv", "A"}), 64, "", "Usage: launchctl setenv <key> <value>\n");
    expectRun(launchctl({"unsetenv"}), 64, "", "Usage: launchctl unsetenv <key>\n");
    expectRun(launchctl({"bootstrap", domain}), 64, "",
              "Usage: launchctl bootstrap <domain-target> <service-path>\n");
    expectRun(launchctl({"bootout"}), 64, "", "Usage: launchctl bootout <service-target>\n");
    EXPECT_FALSE(fs::exists(stateFile));
}

TEST_F(LaunchctlStandIn, ADamagedDomainFileIsReportedAndLeftAlone)
{
    writeFile(stateFile, "{\"environment\": [");
    ProgramRun run = launchctl({"setenv", "A", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.starts_with("launchctl: " + stateFile.native() + ": [json.exception.parse_error"))
        << run.err;
    EXPECT_EQ(readText(stateFile), "{\"environment\": [");

    writeFile(stateFile, "{\"environment\": {\"A\": 1}}");
    expectRun(launchctl({"getenv", "A"}), 1, "",
              "launchctl: " + stateFile.native() + ": \"environment\" holds a value that is not a string\n");
}

}  // namespace
}  // namespace kb::test
