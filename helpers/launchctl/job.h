#pragma once
// Running an agent's program the way launchd does when it loads the agent:
// on its own, while launchctl has long returned.

#include "helpers/launchctl/agent_file.h"

#include <filesystem>

namespace kb::launchctl {

// Starts the agent's program with its arguments, standard input and output
// on /dev/null, in a session of its own, and returns without waiting for it;
// once this program has ended, the job is the system's to reap. "/bin/launchctl",
// which does not exist here, means this program itself. While the job (or
// anything it started) runs, it holds a lock on `record`, a file naming its
// process group, by which endJob finds it. How the job ends is launchd's
// business, not the loader's: nothing is reported.
void startJob(const Agent& agent, const std::filesystem::path& record);

// Ends the job of `record` if it still runs, as launchd ends the job of an
// agent it unloads (at once, with SIGKILL to its process group, where
// launchd would wait a while after SIGTERM), and removes the record.
void endJob(const std::filesystem::path& record);

}  // namespace kb::launchctl
