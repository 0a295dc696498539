#include "app/installer_main.h"

#include "app/command_line.h"
#include "app/interactive_flow.h"
#include "app/watched_run.h"
#include "core/install_error.h"
#include "core/messages.h"
#include "core/product.h"
#include "core/unicode.h"
#include "fileops/file_helpers.h"
#include "fileops/run_folder.h"
#include "payload/verifier.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"
#include "platform/resource.h"
#include "products/install.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace kb {

namespace {

// Writes the finished JSON text and a line feed in one go, so a failure never
// leaves half a document on standard output.
void printJson(const nlohmann::json& value)
{
    std::string text = jsonData(value);
    text += '\n';
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot write standard output");
}

// The run from its temporary folder on: the payload verified and, but for
// verification alone, installed by `recipe`; the non-interactive modes print
// their JSON. Until the run's folder is gone, a signal ends the run as a
// failure does. The dialogs stay outside: ending one changes nothing.
nlohmann::json verifyAndInstall(const Product& product, Mode mode, Recipe* recipe, const std::filesystem::path& home,
                                Progress& progress)
{
    InterruptionHandling interruptions;
    progress.stoppable();
    RunFolder run(fm->temporaryDirectory());
    // An installation sweeps once it holds its home; verification alone
    // changes no home, and sweeps what earlier runs left in their folders.
    if (mode == Mode::verifyPayload) run.sweepAbandonedRuns();
    const std::filesystem::path payload =
        verifyPayload(product, run, recipe ? recipe->payloadItems() : std::vector<std::string>{}, progress);
    if (mode == Mode::verifyPayload) {
        nlohmann::json verified = nlohmann::json::object();
        verified["verified"] = true;
        verified["product"] = product.name;
        verified["version"] = product.version;
        verified["payloadSHA256"] = product.payloadSHA256;
        printJson(verified);
        return verified;
    }
    if (!recipe) throw InstallError(messages::unknownProduct);
    nlohmann::json result = install(*recipe, product, payload, run, home, mode == Mode::testHome, progress);
    if (mode == Mode::testHome) printJson(result);
    return result;
}

}  // namespace

void runInstaller(const std::vector<std::string>& arguments)
{
    const Product product = readProduct(resource / "product.json");
    const Invocation invocation = parseCommandLine(arguments);
    const bool testing = invocation.mode == Mode::testHome;
    const std::filesystem::path realHome = fm->homeDirectory();
    std::filesystem::path home = realHome;
    if (testing) home = checkedTestHome(invocation.testHomeArgument, realHome);
    // Every path below home ends up in JSON (the settings, the install
    // record), which holds nothing but UTF-8: refused before anything is made.
    if (invocation.mode != Mode::verifyPayload && !validUtf8(home.native()))
        throw InstallError(messages::homeNotUtf8(testing));

    if (invocation.mode == Mode::interactive && !confirmInstallation(product)) return;

    // The product's recipe, made once for the whole run. The verifier checks
    // the items it installs on their own; verification alone accepts any
    // product, also one without a recipe.
    const std::unique_ptr<Recipe> recipe = makeRecipe(product.id);
    const auto run = [&](Progress& progress) {
        return verifyAndInstall(product, invocation.mode, recipe.get(), home, progress);
    };
    if (invocation.mode != Mode::interactive) {
        Progress silent;
        run(silent);
        return;
    }
    const nlohmann::json result = runWatched(product.name, run);
    showClosingDialog(product, *recipe, result);
}

}  // namespace kb
