#include "fileops/process.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "core/unicode.h"
#include "platform/launcher.h"

namespace kb {

ProcessResult process(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                      bool required, const FileLock* shared)
{
    LaunchResult launched = launcher->run(executable, arguments, shared);
    if (required && launched.status != 0) {
        throw InstallError(messages::systemStepFailed(executable.filename().native(), launched.status));
    }
    if (!validUtf8(launched.output)) return {launched.status, {}, false};
    return {launched.status, std::move(launched.output)};
}

}  // namespace kb
