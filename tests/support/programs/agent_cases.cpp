// agent_cases <agent-cases.json>: answers the table's agent-file cases with the property-list reader this build has
// (on a Mac, Foundation's, which reads as launchd reads) and prints each answer that differs from the table's; status 1
// when one does. scripts/mac-check.sh runs it, as the test suite is off on a Mac.

#include "tests/support/agent_cases.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: agent_cases <agent-cases.json>\n");
        return 2;
    }
    const std::vector<std::string> mismatches = kb::test::agentCaseMismatches(argv[1]);
    for (const std::string& mismatch : mismatches) std::printf("%s\n", mismatch.c_str());
    return mismatches.empty() ? 0 : 1;
}
