#include "fileops/process.h"

#include "app/install_error.h"
#include "platform/launcher.h"

#include <utf8proc.h>

namespace kb {

namespace {

bool validUtf8(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t codepoint = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &codepoint);
        if (used <= 0) return false;
        bytes += used;
        remaining -= used;
    }
    return true;
}

}  // namespace

ProcessResult process(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                      bool required)
{
    LaunchResult launched = launcher->run(executable, arguments);
    if (required && launched.status != 0) {
        throw InstallError("Ein Systemschritt ist fehlgeschlagen (" + executable.filename().native() + ", Code "
                           + std::to_string(launched.status) + "). Die Installation wird zurückgesetzt.");
    }
    if (!validUtf8(launched.output)) launched.output.clear();
    return {launched.status, std::move(launched.output)};
}

}  // namespace kb
