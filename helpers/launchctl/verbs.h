#pragma once
// The launchctl subcommands this stand-in knows, with launchctl's argument
// forms and exit statuses:
//   getenv <key>                              prints the value and a line feed; nothing when unset
//   setenv <key> <value>
//   unsetenv <key>
//   bootstrap gui/<uid> <agent file>          loads the agent, starts its job when it runs at load
//   bootout gui/<uid>/<label>                 unloads it, ending its job if that still runs
// Only the caller's own gui/<uid> domain is served.

#include <iosfwd>
#include <string>
#include <vector>

namespace kb::launchctl {

constexpr int usageStatus = 64;          // EX_USAGE
constexpr int bootstrapFailed = 5;       // EIO, as launchctl reports a service it cannot load
constexpr int bootoutFailed = 3;         // ESRCH: no such service loaded

// Runs one command line (without the program name) and returns the exit status.
int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace kb::launchctl
