#include "products/launchd_restore.h"

#include "fileops/file_helpers.h"
#include "fileops/process.h"
#include "platform/system_tools.h"

namespace kb {

namespace {

// The restore is best effort: a command that cannot start or that fails
// must not keep the later ones from running.
void attempt(const std::vector<std::string>& arguments) noexcept
{
    try {
        process(systemTool("launchctl"), arguments, false);
    } catch (...) {
    }
}

}  // namespace

void restoreLaunchd(const RunContext& context) noexcept
{
    attempt({"bootout", context.launchdDomain + "/" + context.launchAgentLabel});
    if (kb::exists(context.launchAgentFile)) {
        attempt({"bootstrap", context.launchdDomain, context.launchAgentFile.native()});
    }
    if (!context.previousLaunchdValue.empty()) {
        attempt({"setenv", "OFX_PLUGIN_PATH", context.previousLaunchdValue});
    } else {
        attempt({"unsetenv", "OFX_PLUGIN_PATH"});
    }
}

}  // namespace kb
