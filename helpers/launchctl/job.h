#pragma once
// Running an agent's program the way launchd does when it loads the agent.

#include "helpers/launchctl/agent_file.h"

namespace kb::launchctl {

// Runs the agent's program with its arguments, standard input and output
// on /dev/null, and waits for it. "/bin/launchctl", which does not exist
// here, means this program itself. How the job ends is launchd's business,
// not the loader's: nothing is reported.
void runJob(const Agent& agent);

}  // namespace kb::launchctl
