// The agent's property list, written, and read back from an agent an earlier
// installation left as launchd reads it. On its own, beside the rest of the
// agent's code, so that it can be built and tried with either property-list
// reader.

#include "core/install_error.h"
#include "core/messages.h"
#include "core/property_list.h"
#include "products/launch_agent.h"

namespace kb {

std::string launchAgentPropertyList(const std::string& label, const std::string& searchPathValue)
{
    PropertyList agent;
    agent.setText("Label", label);
    agent.setTexts("ProgramArguments", {"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", searchPathValue});
    agent.setFlag("RunAtLoad", true);
    return agent.xml();
}

std::optional<std::string> agentSearchPath(std::string_view propertyList)
{
    // Text that no XML can carry as it is: a reader would drop or change it,
    // and every search folder after it with it.
    if (holdsTextXmlForbids(propertyList)) throw InstallError(messages::searchPathUnreadable);
    // A list too large or too deep to be given to a reader safely may still be
    // one launchd reads: its folders cannot be taken over, and must not be lost.
    if (beyondReadingLimits(propertyList)) throw InstallError(messages::earlierAgentTooLarge);
    const std::optional<PropertyList> agent = PropertyList::read(propertyList);
    if (!agent) return std::nullopt;
    const std::optional<std::vector<std::string>> arguments = agent->texts("ProgramArguments");
    if (!arguments || arguments->size() < 4) return std::nullopt;
    if ((*arguments)[1] != "setenv" || (*arguments)[2] != "OFX_PLUGIN_PATH") return std::nullopt;
    return (*arguments)[3];
}

}  // namespace kb
