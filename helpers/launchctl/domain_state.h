#pragma once
// What launchd keeps for the user's gui/<uid> domain: its environment
// variables and the labels of the agents loaded into it. It lives in
// $HOME/.local/state/kestrelbay-launchd/gui-<uid>.json, so each home has
// its own launchd.

#include <filesystem>
#include <map>
#include <string>

namespace kb::launchctl {

struct DomainState {
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> loaded;  // label -> path of the agent file it was loaded from
};

// The state file of the domain of `uid` below the user's home ($HOME, or the
// password database's home when HOME is not set).
std::filesystem::path stateFile(unsigned uid);

// A missing file is an empty domain; an unreadable or damaged one throws.
DomainState loadState(const std::filesystem::path& file);

// Writes the state to a scratch file beside `file` and renames it into place.
void saveState(const std::filesystem::path& file, const DomainState& state);

}  // namespace kb::launchctl
