#include "helpers/launchctl/agent_file.h"

#include "core/property_list.h"
#include "core/property_list_limits.h"
#include "platform/file_manager.h"

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
    // launchd takes no list with text that XML cannot carry.
    if (holdsTextXmlForbids(bytes)) return std::nullopt;
    const std::optional<PropertyList> list = PropertyList::read(bytes);
    if (!list) return std::nullopt;

    Agent agent;
    std::optional<std::string> label = list->text("Label");
    if (!label || label->empty()) return std::nullopt;
    agent.label = *label;

    if (list->has("ProgramArguments")) {
        std::optional<std::vector<std::string>> arguments = list->texts("ProgramArguments");
        if (!arguments) return std::nullopt;
        agent.programArguments = std::move(*arguments);
    }
    // "Program", when given, names what runs; the arguments are then only its argv.
    if (list->has("Program")) {
        std::optional<std::string> path = list->text("Program");
        if (!path) return std::nullopt;
        agent.program = *path;
    } else if (!agent.programArguments.empty()) {
        agent.program = agent.programArguments.front();
    }
    if (agent.program.empty()) return std::nullopt;
    if (agent.programArguments.empty()) agent.programArguments.push_back(agent.program);
    agent.runAtLoad = list->flag("RunAtLoad").value_or(agent.runAtLoad);
    return agent;
}

}  // namespace kb::launchctl
