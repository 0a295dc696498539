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
#include "platform/desktop.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"
#include "platform/resource.h"
#include "products/install.h"

#include <cerrno>
#include <cstdio>
#include <optional>
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

// The home a run changes: the real one, or the checked test folder.
struct Home {
    std::filesystem::path path;
    bool testing = false;
};

// What a run that changes a home is asked to do.
struct Request {
    Mode mode;                                         // install, restore or uninstall
    std::optional<std::filesystem::path> backupFolder;  // the one --restore names
};

Home homeOf(const Invocation& invocation)
{
    const std::filesystem::path realHome = fm->homeDirectory();
    Home home{realHome, invocation.testHome.has_value()};
    if (home.testing) home.path = checkedTestHome(*invocation.testHome, realHome);
    // Every path below home ends up in JSON (the settings, the records), which
    // holds nothing but UTF-8: refused before anything is made.
    if (!validUtf8(home.path.native())) throw InstallError(messages::homeNotUtf8(home.testing));
    return home;
}

// One run that changes `home`, from its temporary folder on: for an
// installation the payload verified first. Until the run's folder is gone, a
// signal ends the run as a failure does. The dialogs stay outside: ending one
// changes nothing.
nlohmann::json changeHome(const Product& product, Recipe& recipe, const Home& home, const Request& request,
                          Progress& progress)
{
    InterruptionHandling interruptions;
    progress.stoppable();
    RunFolder run(fm->temporaryDirectory());
    switch (request.mode) {
    case Mode::restore:
        return restore(recipe, product, run, home.path, home.testing, request.backupFolder, progress);
    case Mode::uninstall: return uninstall(recipe, product, run, home.path, home.testing, progress);
    default: {
        const std::filesystem::path payload = verifyPayload(product, run, recipe.payloadItems(), progress);
        return install(recipe, product, payload, run, home.path, home.testing, progress);
    }
    }
}

// --verify-payload: any product, also one without a recipe (the items of a
// product with one are checked as an installation checks them); no home is
// changed, and what earlier runs left in their folders is swept.
void verifyOnly(const Product& product)
{
    const std::unique_ptr<Recipe> recipe = makeRecipe(product.id);
    InterruptionHandling interruptions;
    RunFolder run(fm->temporaryDirectory());
    run.sweepAbandonedRuns();
    Progress silent;
    verifyPayload(product, run, recipe ? recipe->payloadItems() : std::vector<std::string>{}, silent);
    nlohmann::json verified = nlohmann::json::object();
    verified["verified"] = true;
    verified["product"] = product.name;
    verified["version"] = product.version;
    verified["payloadSHA256"] = product.payloadSHA256;
    printJson(verified);
}

// --test-home, --restore and --uninstall: no dialogs, the result record on
// standard output. Outside test mode a restore or an uninstall waits for
// Resolve to be closed, as an interactive run does.
void runFromCommandLine(const Product& product, Recipe& recipe, const Home& home, const Request& request)
{
    if (!home.testing && resolveIsRunning(desktop->runningApplications()))
        throw InstallError(messages::resolveRunningNothingChanged);
    Progress silent;
    printJson(changeHome(product, recipe, home, request, silent));
}

// A double-click: the confirmation (or, opened with ⌥ held, the choice of a
// restore or an uninstall), the run in its progress window, the closing dialog.
void runInteractively(const Product& product, Recipe& recipe, const Home& home)
{
    const std::optional<Mode> chosen = askWhatToDo(product);
    if (!chosen) return;
    const Request request{*chosen, std::nullopt};
    const nlohmann::json result =
        runWatched(product.name, [&](Progress& progress) { return changeHome(product, recipe, home, request, progress); });
    showClosingDialog(product, recipe, *chosen, result);
}

}  // namespace

void runInstaller(const std::vector<std::string>& arguments)
{
    const Product product = readProduct(resource / "product.json");
    const Invocation invocation = parseCommandLine(arguments);
    if (invocation.mode == Mode::verifyPayload) return verifyOnly(product);

    // Every other run needs the product's recipe, made once for the whole run.
    const std::unique_ptr<Recipe> recipe = makeRecipe(product.id);
    if (!recipe) throw InstallError(messages::unknownProduct);
    const Home home = homeOf(invocation);
    if (invocation.mode == Mode::interactive) return runInteractively(product, *recipe, home);
    std::optional<std::filesystem::path> backupFolder;
    if (invocation.backupFolder) backupFolder = *invocation.backupFolder;
    runFromCommandLine(product, *recipe, home, {invocation.mode, backupFolder});
}

}  // namespace kb
