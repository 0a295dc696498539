// agentSearchPath on arbitrary bytes, as the plug-in recipe reads the agent
// file of an earlier installation: it gives the search path or nothing and
// never throws. A search path it finds survives being written into a new
// agent and read back.

#include "fuzz/fuzz_check.h"
#include "products/launch_agent.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<std::string> searchPath =
        kb::agentSearchPath(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!searchPath || searchPath->find('\0') != std::string::npos) return 0;
    const std::string agent = kb::launchAgentPropertyList("de.geoweave.ofxpath", *searchPath);
    const std::optional<std::string> reread = kb::agentSearchPath(agent);
    KB_FUZZ_CHECK(reread.has_value());
    KB_FUZZ_CHECK(*reread == *searchPath);
    return 0;
}
