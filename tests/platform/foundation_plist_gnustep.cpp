// The property-list reader of Apple's systems, Foundation, built against GNUstep's: it answers the agent cases as
// every reader must (agent-cases.json), and reads back the agent it writes.

#include "products/launch_agent.h"
#include "tests/support/agent_cases.h"
#include "tests/support/kit.h"

#include <gtest/gtest.h>

namespace kb::test {
namespace {

TEST(FoundationPropertyLists, AnswerTheAgentCasesAndReadBackTheAgentTheyWrite)
{
    EXPECT_EQ(agentCaseMismatches(sourceDir() / "tests/products/agent-cases.json", "gnustep"), std::vector<std::string>{});
    const std::string agent = launchAgentPropertyList("de.geoweave.ofxpath", "/Volumes/Füße/OFX:/a&b <c>");
    EXPECT_EQ(agentSearchPath(agent), "/Volumes/Füße/OFX:/a&b <c>");
    EXPECT_NE(agent.find("<key>RunAtLoad</key>"), std::string::npos) << agent;
}

}  // namespace
}  // namespace kb::test
