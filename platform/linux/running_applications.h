#pragma once

#include "platform/desktop.h"

#include <vector>

namespace kb {

// The processes of the current user, read from /proc, each named by its
// program file's full name (not the kernel's shortened one) and without a
// bundle identifier.
std::vector<RunningApplication> linuxRunningApplications();

}  // namespace kb
