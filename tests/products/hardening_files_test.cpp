// Binary property lists, walked through their references within their limits (XML ones are hostile-input rows), and
// the agent files of earlier installations as launchd reads them (agent-cases.json).

#include "core/install_error.h"
#include "core/property_list_limits.h"
#include "products/launch_agent.h"
#include "tests/support/agent_cases.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

std::string number(std::uint64_t value, int bytes = 3, std::size_t times = 1)
{
    std::string one, all;
    for (int i = bytes; i-- > 0;) one += char(value >> (8 * i) & 0xff);
    while (times-- > 0) all += one;
    return all;
}

// A binary list of `objects` (the first its root, references three bytes wide), `patch` over it `back` from its end.
std::string bplist(const std::vector<std::string>& objects, std::size_t back = 0, const std::string& patch = "")
{
    std::string list = "bplist00", offsets;
    for (const std::string& object : objects) offsets += number(list.size()), list += object;
    list += offsets + number(0x0303, 8) + number(objects.size(), 8) + number(0, 8) + number(list.size(), 8);
    return list.replace(list.size() - back, patch.size(), patch);
}

// `count` arrays (or what `marker` makes them) nested by `toNext` references each, the last empty.
std::string chain(std::size_t count, const std::string& marker = "\xA1", std::size_t toNext = 1)
{
    std::vector<std::string> objects(count, "\xA0");
    for (std::size_t i = 0; i + 1 < count; ++i) objects[i] = marker + number(i + 1, 3, toNext);
    return bplist(objects);
}

TEST(PropertyListLimits, BinaryListsAreWalkedThroughTheirReferencesWithinTheirLimits)
{
    const auto nine = [](const std::string& first) {  // then eight objects whose bytes read as references to 1
        std::vector<std::string> objects(9, number(1));
        return objects[0] = first, bplist(objects);
    };
    const std::vector<std::string> two = {"\xA1" + number(1), "\xA0"};  // [[]]: trailer 32 bytes, offsets 6 before
    const std::pair<std::string, bool> rows[] = {
        {chain(128), true}, {chain(129), false}, {chain(129, "\xC1"), false}, {chain(140000), false},
        {chain(40, "\xA2", 2), false}, {"bplist00", false}, {bplist(two), true}, {std::string(1 << 20, ' '), true},
        {std::string((1 << 20) + 1, ' '), false}, {bplist(two, 26, {0}), false}, {bplist(two, 25, {0}), false},
        {bplist(two, 24, number(4, 8)), false}, {bplist(two, 16, number(2, 8)), false},
        {bplist(two, 8, number(20, 8)), false}, {bplist(two, 38, number(13)), false},
        {bplist({"\xA1" + number(2), "\xA0"}), false}, {bplist({"\xAF\x22" + number(1, 4) + number(1), "\xA0"}), false},
        {nine("\xA9" + number(1)), true}, {nine("\xAA" + number(1)), false}, {nine("\xD5" + number(1)), false},
        {bplist({"\xAF\x12" + number(262143, 4) + number(1, 3, 262143), "\x09"}), true},
        {bplist({"\xAF\x12" + number(262144, 4) + number(1, 3, 262144), "\x09"}), false},  // 2^18 + 1
    };
    for (const auto& [list, within] : rows) EXPECT_EQ(withinPropertyListLimits(list), within) << list.size();
    EXPECT_THROW(agentSearchPath(chain(140000)), InstallError);  // libplist's recursion ran out of stack here
}

TEST(AgentFiles, EveryFormLaunchdReadsGivesItsSearchPathAndWhatNoReaderKeepsIsRefused)
{
    EXPECT_EQ(agentCaseMismatches(sourceDir() / "tests/products/agent-cases.json"), std::vector<std::string>{});
}

}  // namespace
}  // namespace kb::test
