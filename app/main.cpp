// The installer's entry point: sets up the process-wide file manager, the
// resource folder and the platform services, runs the installer and makes
// exactly one report of a failure.

#include "app/dialogs.h"
#include "app/installer_main.h"
#include "core/messages.h"
#include "platform/desktop.h"
#include "platform/file_manager.h"
#include "platform/launcher.h"
#include "platform/resource.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

void reportOnStandardError(const std::string& description)
{
    std::string line = std::string(kb::messages::failurePrefix) + description + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    static const std::unique_ptr<kb::FileManager> fileManager = kb::makeSystemFileManager();
    kb::fm = fileManager.get();

    std::filesystem::path executable = kb::runningExecutable();
    std::optional<std::filesystem::path> resources = kb::resourceFolderOf(executable);
    if (!resources) {
        reportOnStandardError(kb::messages::resourceFolderMissing(executable.native()));
        return 1;
    }
    kb::resource = *resources;

    static const std::unique_ptr<kb::Launcher> processLauncher = kb::makeSystemLauncher();
    kb::launcher = processLauncher.get();
    static const std::unique_ptr<kb::Desktop> systemDesktop = kb::makeSystemDesktop();
    kb::desktop = systemDesktop.get();

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string description;
    try {
        kb::runInstaller(arguments);
        return 0;
    } catch (const kb::DisplayUnavailable&) {
        description = kb::messages::noDisplay;
    } catch (const std::exception& error) {
        description = error.what();
    } catch (...) {
        description = kb::messages::unknownError;
    }

    if (arguments.empty()) {
        try {
            kb::alert(std::string(kb::messages::failureTitle), description);
            return 1;
        } catch (...) {
            // No display to ask anyone on: the report goes to standard error.
        }
    }
    reportOnStandardError(description);
    return 1;
}
