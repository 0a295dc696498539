// The ditto and launchctl stand-ins run as the installer runs them.

#include "tests/support/kit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace kb::test {
namespace {

using nlohmann::json;

const fs::path helpers = emptyBundle() / "Contents/Helpers";

// One case of standins.json: files to write, then command lines with their exact outcome (or, failing, a reason to
// skip the case), in a fresh folder $T that is also HOME. $L and $D are the stand-ins, $R the source tree, $U the
// caller's uid, $O another one, $S launchctl's domain file. A step that waits for the effect of a job launchctl started
// ("poll") runs again until it has its outcome, for up to ten seconds. A case shows, and is named, by its name.
struct Case {
    json row;
    friend void from_json(const json& from, Case& to) { to.row = from; }
    friend void PrintTo(const Case& one, std::ostream* out) { *out << one.row.at("name").get<std::string>(); }
};
class StandIn : public ::testing::TestWithParam<Case> {};

TEST_P(StandIn, Runs)
{
    TempDir temp;
    std::string text = GetParam().row.dump();
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"$S", "$T/.local/state/kestrelbay-launchd/gui-$U.json"}, {"$T", temp.path()}, {"$R", sourceDir()},
             {"$L", helpers / "launchctl"}, {"$D", helpers / "ditto"}, {"$U", std::to_string(::getuid())},
             {"$O", std::to_string(::getuid() + 1)}}) {
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    }
    const json row = json::parse(text);
    for (const auto& [path, content] : row.at("files").items()) writeFile(path, content.get<std::string>());
    const std::string home = temp.path();
    for (const json& step : row.at("steps")) {
        SCOPED_TRACE(step.dump());
        const std::vector<std::string> command = step.at("run");
        const RunOptions options{.cwd = step.value("cwd", ""), .env = {{"HOME", step.value("home", home)}}};
        const auto outcome = std::make_tuple(step.value("status", 0), step.value("out", ""), step.value("err", ""));
        auto ran = run(command[0], {command.begin() + 1, command.end()}, options);
        for (int i = 0; i < 100 && step.value("poll", false) && std::tie(ran.status, ran.out, ran.err) != outcome; ++i)
            ::usleep(100000), ran = run(command[0], {command.begin() + 1, command.end()}, options);
        if (step.value("skipOnFailure", false) && ran.status != 0) GTEST_SKIP() << ran.err;
        EXPECT_EQ(ran.status, step.value("status", 0));
        EXPECT_EQ(ran.out, step.value("out", ""));
        if (step.contains("errStart")) EXPECT_TRUE(ran.err.starts_with(step["errStart"].get<std::string>())) << ran.err;
        else EXPECT_EQ(ran.err, step.value("err", ""));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StandIn,
                         ::testing::ValuesIn(json::parse(readText(sourceDir() / "tests/helpers/standins.json"))
                                                 .get<std::vector<Case>>()));

// A tree zipped by Info-ZIP (links kept) comes back as it was, also under the C locale, set-id and sticky bits stripped
// and folders kept usable by their owner. The members after "T" come one by one without their folders (made 0755):
// they jump between folders and lie deeper than ditto keeps folders open.
TEST(Ditto, RestoresATreeAsStored)
{
    TempDir temp;
    ::umask(022);
    const fs::path src = temp / "src";
    std::string big, deep = "J/d0";
    for (std::size_t i = 0; big.size() < (3u << 20) + 17; ++i) big += std::to_string(i * 7919) + ",";
    for (int i = 1; i < 70; ++i) deep += "/d" + std::to_string(i);
    const std::string half = deep.substr(0, deep.find("/d40/"));
    for (const std::string& name : std::vector<std::string>{"T/readme", "T/Grüße/Ünïcødé – 東京.txt", "J/a/one",
             "J/b/two", "J/a/three", deep + "/bottom", half + "/middle", deep + "/below/last", "J/a/x/y/four", "top"}) {
        writeFile(src / name, name);
    }
    writeFile(src / "T/big", big);
    makeLink("tool", src / "T/bin/alias");
    makeLink("/etc/hosts", src / "T/abs");
    makeLink("../../somewhere/else", src / "T/up");
    makeLink("y/four", src / "J/a/x/alias");
    // Name, mode zipped, mode unpacked; a name ending in "/" is a folder.
    const std::vector<std::tuple<std::string, unsigned, unsigned>> modes = {
        {"T/bin/tool", 0755, 0755}, {"T/key", 0600, 0600}, {"T/setuid", 04755, 0755}, {"T/setgid", 02755, 0755},
        {"T/empty/", 0755, 0755}, {"T/locked/", 0500, 0700}, {"T/shared/", 0750, 0750}, {"T/sticky/", 01777, 0777},
        {"T/group/", 02775, 0775}, {deep + "/below/", 0700, 0700}};
    for (const auto& [name, zipped, unpacked] : modes) {
        name.ends_with('/') ? void(fs::create_directories(src / name)) : writeFile(src / name, name);
        ::chmod((src / name).c_str(), zipped);
    }
    const auto zip = run("/usr/bin/zip", {"-q", "-r", "-y", temp / "a.zip", "T", "J/a/one", "J/b/two", "J/a/three",
                                          deep + "/bottom", half + "/middle", deep + "/below", "J/a/x/y/four",
                                          "J/a/x/alias", "top"}, {.cwd = src});
    ASSERT_EQ(zip.status, 0) << zip.err;
    for (const auto& [name, zipped, unpacked] : modes) ::chmod((src / name).c_str(), unpacked);

    const auto ditto = run(helpers / "ditto", {"--norsrc", "-x", "-k", temp / "a.zip", temp / "new/out"},
                           {.env = {{"LC_ALL", "C"}}});

    EXPECT_EQ(ditto.status, 0);
    EXPECT_EQ(ditto.out + ditto.err, "");
    EXPECT_EQ(picture(temp / "new/out"), picture(src));
}

}  // namespace
}  // namespace kb::test
