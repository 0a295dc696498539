#include "app/installer_main.h"

#include "app/command_line.h"
#include "app/interactive_flow.h"
#include "core/install_error.h"
#include "core/messages.h"
#include "core/product.h"
#include "core/unicode.h"
#include "fileops/file_helpers.h"
#include "payload/verifier.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"
#include "platform/random_uuid.h"
#include "platform/resource.h"
#include "products/install.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace kb {

namespace {

// The run's temporary folder: removed with everything in it when the run
// ends, whatever the outcome, also after a signal. A failed removal is not
// reported.
class TemporaryFolder {
public:
    TemporaryFolder() : path_(fm->temporaryDirectory() / ("kestrelbay-installer-" + randomUUID())) {}
    ~TemporaryFolder()
    {
        holdInterruptions();
        try {
            if (kb::exists(path_)) fm->removeItem(path_);
        } catch (...) {
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes the finished JSON text and a line feed in one go, so a failure never
// leaves half a document on standard output.
void printJson(const nlohmann::json& value)
{
    std::string text = jsonData(value);
    text += '\n';
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot write standard output");
}

}  // namespace

void runInstaller(const std::vector<std::string>& arguments)
{
    const Product product = readProduct(resource / "product.json");
    const Invocation invocation = parseCommandLine(arguments);
    const std::filesystem::path realHome = fm->homeDirectory();
    std::filesystem::path home = realHome;
    if (invocation.mode == Mode::testHome) home = checkedTestHome(invocation.testHomeArgument, realHome);
    // Every path below home ends up in JSON (the settings, the install
    // record), which holds nothing but UTF-8: refused before anything is made.
    if (invocation.mode != Mode::verifyPayload && !validUtf8(home.native())) throw InstallError(messages::homeNotUtf8);

    if (invocation.mode == Mode::interactive && !confirmInstallation(product)) return;

    nlohmann::json result;
    {
        // From here until the temporary folder is gone, a signal ends the run
        // as a failure does. Dialogs stay outside: ending one changes nothing.
        InterruptionHandling interruptions;
        TemporaryFolder temp;
        const std::filesystem::path payload = verifyPayload(product, temp.path());

        if (invocation.mode == Mode::verifyPayload) {
            nlohmann::json verified = nlohmann::json::object();
            verified["verified"] = true;
            verified["product"] = product.name;
            verified["version"] = product.version;
            verified["payloadSHA256"] = product.payloadSHA256;
            printJson(verified);
            return;
        }

        const bool testing = invocation.mode == Mode::testHome;
        result = install(product, payload, temp.path(), home, testing);
        if (testing) return printJson(result);
    }
    showClosingDialog(product, result);
}

}  // namespace kb
