#pragma once
// What launchd keeps for the user's gui/<uid> domain: its environment
// variables and the labels of the agents loaded into it. It lives in
// $HOME/.local/state/kestrelbay-launchd/gui-<uid>.json, so each home has
// its own launchd.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kb::launchctl {

struct DomainState {
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> loaded;  // label -> path of the agent file it was loaded from
    std::optional<double> lastBootout;          // when a bootout last unloaded an agent, in seconds since 1970
};

// The state file of the domain of `uid` below the user's home ($HOME, or the
// password database's home when HOME is not set).
std::filesystem::path stateFile(unsigned uid);

// A missing file is an empty domain; an unreadable or damaged one throws,
// and so does one that is no regular file (read without waiting: a FIFO
// never blocks).
DomainState loadState(const std::filesystem::path& file);

// Writes the state to a scratch file beside `file` and renames it into place.
void saveState(const std::filesystem::path& file, const DomainState& state);

// Holds the domain of the state file `file` for one read-modify-write: an
// exclusive lock on its folder (made when missing), which every verb that
// changes the domain takes, so that an agent's job changing it at the same
// time as the installer loses nothing.
class DomainLock {
public:
    explicit DomainLock(const std::filesystem::path& file);
    ~DomainLock();
    DomainLock(const DomainLock&) = delete;
    DomainLock& operator=(const DomainLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace kb::launchctl
