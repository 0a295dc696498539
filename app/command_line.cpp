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
    if (arguments.size() == 1 && arguments[0] == "--verify-payload") return {Mode::verifyPayload, {}, {}};
    Invocation invocation;
    bool verb = false;
    for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
        const auto next = argument + 1;
        if (*argument == "--test-home" && next != arguments.end() && !invocation.testHome) {
            invocation.testHome = *next;
            argument = next;
        } else if ((*argument == "--restore" || *argument == "--uninstall") && !verb) {
            verb = true;
            invocation.mode = *argument == "--restore" ? Mode::restore : Mode::uninstall;
            if (invocation.mode == Mode::restore && next != arguments.end() && !next->starts_with("--")) {
                invocation.backupFolder = *next;
                argument = next;
            }
        } else {
            throw InstallError(messages::usage);
        }
    }
    if (!verb && invocation.testHome) invocation.mode = Mode::install;
    return invocation;
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
