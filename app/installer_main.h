#pragma once

#include <string>
#include <vector>

namespace kb {

// One run of the installer for the arguments after the program's name:
// reads the descriptor, judges the command line, verifies and installs.
// Returns normally on success and on the interactive early ends; throws on
// any failure, after its temporary folder has been removed. From the
// confirmation until then, a signal that ends a process, or the user's
// "Abbrechen" in the progress window of the run without arguments, ends the
// run as a failure: it throws kb::Interrupted (platform/interruption.h).
void runInstaller(const std::vector<std::string>& arguments);

}  // namespace kb
