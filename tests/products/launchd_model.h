#pragma once
// Answers in place of launchctl and keeps the state launchd would keep for
// the user: the value of OFX_PLUGIN_PATH and the agent that is loaded (the
// bytes of its property list when it was bootstrapped). A bootstrapped agent
// runs at load, so its "setenv" takes effect at once.

#include "platform/launcher.h"
#include "products/launch_agent.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kb::test {

struct LaunchdState {
    std::optional<std::string> searchPath;  // OFX_PLUGIN_PATH; none when unset
    std::optional<std::string> loadedAgent;
    bool operator==(const LaunchdState&) const = default;
};

class LaunchdModel final : public Launcher {
public:
    LaunchdState state;
    std::vector<std::vector<std::string>> commands;

    LaunchResult run(const std::filesystem::path&, const std::vector<std::string>& arguments) override
    {
        commands.push_back(arguments);
        const std::string verb = arguments.empty() ? std::string() : arguments[0];
        if (verb == "getenv" && arguments.size() == 2) {
            if (!state.searchPath) return {1, ""};
            return {0, *state.searchPath + "\n"};
        }
        if (verb == "setenv" && arguments.size() == 3) {
            state.searchPath = arguments[2];
            return {0, ""};
        }
        if (verb == "unsetenv" && arguments.size() == 2) {
            state.searchPath.reset();
            return {0, ""};
        }
        if (verb == "bootout" && arguments.size() == 2) {
            if (!state.loadedAgent) return {3, "Boot-out failed: 3: No such process\n"};
            state.loadedAgent.reset();
            return {0, ""};
        }
        if (verb == "bootstrap" && arguments.size() == 3) {
            if (state.loadedAgent) return {5, "Bootstrap failed: 5: Input/output error\n"};
            std::string bytes;
            try {
                bytes = readText(arguments[2]);
            } catch (const std::exception&) {
                return {5, "Bootstrap failed: 5: Input/output error\n"};
            }
            std::optional<std::string> value = agentSearchPath(bytes);
            if (!value) return {5, "Bootstrap failed: 5: Input/output error\n"};
            state.loadedAgent = bytes;
            state.searchPath = *value;
            return {0, ""};
        }
        return {64, "Unrecognized subcommand\n"};
    }
};

}  // namespace kb::test
