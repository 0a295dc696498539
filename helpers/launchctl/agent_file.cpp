#include "helpers/launchctl/agent_file.h"

#include "core/property_list.h"
#include "core/property_list_limits.h"
#include "platform/file_manager.h"

#include <cstdint>
#include <exception>

namespace kb::launchctl {

std::optional<Agent> readAgent(const std::filesystem::path& file)
{
    // Read as the installer reads agents: a regular file only (a FIFO or a
    // device could block or never end), within the limits libplist is safe in.
    std::string bytes;
    try {
        bytes = readFile(file, maxPropertyListBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const PropertyList root = readDictionary(bytes);
    if (!root) return std::nullopt;

    Agent agent;
    std::optional<std::string> label = stringValue(plist_dict_get_item(root.get(), "Label"));
    if (!label || label->empty()) return std::nullopt;
    agent.label = *label;

    if (plist_t arguments = plist_dict_get_item(root.get(), "ProgramArguments")) {
        if (plist_get_node_type(arguments) != PLIST_ARRAY) return std::nullopt;
        for (std::uint32_t i = 0; i < plist_array_get_size(arguments); ++i) {
            std::optional<std::string> argument = stringValue(plist_array_get_item(arguments, i));
            if (!argument) return std::nullopt;
            agent.programArguments.push_back(*argument);
        }
    }
    // "Program", when given, names what runs; the arguments are then only its argv.
    if (plist_t program = plist_dict_get_item(root.get(), "Program")) {
        std::optional<std::string> path = stringValue(program);
        if (!path) return std::nullopt;
        agent.program = *path;
    } else if (!agent.programArguments.empty()) {
        agent.program = agent.programArguments.front();
    }
    if (agent.program.empty()) return std::nullopt;
    if (agent.programArguments.empty()) agent.programArguments.push_back(agent.program);

    plist_t runAtLoad = plist_dict_get_item(root.get(), "RunAtLoad");
    if (runAtLoad != nullptr && plist_get_node_type(runAtLoad) == PLIST_BOOLEAN) {
        std::uint8_t value = 0;
        plist_get_bool_val(runAtLoad, &value);
        agent.runAtLoad = value != 0;
    }
    return agent;
}

}  // namespace kb::launchctl
