#pragma once
// The agent-file cases of tests/products/agent-cases.json, which every
// property-list reader must answer alike.

#include <filesystem>
#include <string>
#include <vector>

namespace kb::test {

// Each row of the table at `table` whose answer from agentSearchPath, with the
// property-list reader this program was built with, is not the row's: its
// name, what it expected and what came. `reader` names the reader where a row
// may expect another answer of it ("gnustep").
std::vector<std::string> agentCaseMismatches(const std::filesystem::path& table, const std::string& reader = "");

}  // namespace kb::test
