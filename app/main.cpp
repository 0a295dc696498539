// The installer's entry point: sets up the process-wide file manager, the
// resource folder and the platform services, runs the installer and makes
// exactly one report of a failure. A run ended by a signal is reported as a
// failure too, on standard error only: whoever asked it to end waits for no
// dialog. A run the user stopped in its progress window ends in the failure
// dialog, which says so.

#include "app/dialogs.h"
#include "app/installer_main.h"
#include "core/failure_text.h"
#include "core/messages.h"
#include "platform/descriptor_limit.h"
#include "platform/desktop.h"
#include "platform/file_manager.h"
#include "platform/forwarding_file_manager.h"
#include "platform/interruption.h"
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

// The system's file manager with a check before every operation, so that a
// noted signal ends the run at the next file operation.
class InterruptibleFileManager final : public kb::ForwardingFileManager {
public:
    using ForwardingFileManager::ForwardingFileManager;

protected:
    void before(kb::FileOperation, const kb::Path&) override { kb::checkInterruption(); }
};

}  // namespace

int main(int argc, char** argv)
{
    kb::ignoreBrokenPipes();
    kb::raiseDescriptorLimit();
    static const std::unique_ptr<kb::FileManager> systemFiles = kb::makeSystemFileManager();
    static InterruptibleFileManager fileManager(*systemFiles);
    kb::fm = &fileManager;

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

    std::vector<std::string> arguments(argv + 1, argv + argc);
#if defined(__APPLE__) || defined(KB_PORTABLE)
    // The first start of a downloaded (quarantined) app gets the process
    // serial number of old as "-psn_0_<number>" from the system, not from the
    // user: without it the run is the interactive one. The portable build
    // drops it too, so that the suite sees it done.
    std::erase_if(arguments, [](const std::string& argument) { return argument.starts_with("-psn_"); });
#endif
    std::exception_ptr failure;
    try {
        kb::runInstaller(arguments);
        return 0;
    } catch (...) {
        failure = std::current_exception();
    }
    std::filesystem::path home;
    try {
        home = kb::fm->homeDirectory();
    } catch (...) {
        // Paths are then shown as they are.
    }
    const std::string description = kb::describeFailure(failure, home);

    // A signal's sender waits for no dialog; the user who stopped the run sees one.
    if (arguments.empty() && (!kb::interruptionNoted() || kb::stoppedByUser())) {
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
