#pragma once
// Puts launchd back the way it was before a failed plug-in installation.

#include "products/run_context.h"

namespace kb {

// Unloads the agent of this run, loads the agent file again if rollback left
// one in place, and sets OFX_PLUGIN_PATH back to its earlier value (or
// removes it when there was none). Every step is tried; none ever throws.
void restoreLaunchd(const RunContext& context) noexcept;

}  // namespace kb
