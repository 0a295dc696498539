#include "app/command_line.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "core/paths.h"

namespace kb {

namespace {

constexpr const char* testHomeMarker = ".KESTREL-BAY-INSTALLER-TEST-HOME";

}  // namespace

Invocation parseCommandLine(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) return {Mode::interactive, {}};
    if (arguments.size() == 1 && arguments[0] == "--verify-payload") return {Mode::verifyPayload, {}};
    if (arguments.size() == 2 && arguments[0] == "--test-home") return {Mode::testHome, arguments[1]};
    throw InstallError(messages::usage);
}

std::filesystem::path checkedTestHome(const std::string& argument, const std::filesystem::path& realHome)
{
    std::filesystem::path folder = argument;
    if (folder.is_relative()) folder = std::filesystem::current_path() / folder;
    folder = standardizedPath(folder);

    bool accepted = folder.native().starts_with('/')
                    && canonicalPath(folder) != canonicalPath(realHome)
                    && kb::exists(folder / testHomeMarker);
    if (!accepted) throw InstallError(messages::testHomeRefused);
    return folder;
}

}  // namespace kb
