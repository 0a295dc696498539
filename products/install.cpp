#include "products/install.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "platform/file_manager.h"
#include "products/launchd_restore.h"
#include "products/run_context.h"

#include <unistd.h>

#include <exception>
#include <string>
#include <vector>

namespace kb {

namespace {

const char* const launchAgentLabel = "de.geoweave.ofxpath";

// The backup folder's place below the application-support folder. The name
// is appended as text, never as a path of its own: an empty name or one that
// starts with "/" must not move the backups out of the home.
std::filesystem::path backupFolderIn(const std::filesystem::path& applicationSupport, const Product& product)
{
    return applicationSupport.native() + "/" + product.name + "/Installer-Backups/" + timestamp();
}

}  // namespace

nlohmann::json runInstallation(const RecipeBook& recipes, const Product& product,
                               const std::filesystem::path& payload, const std::filesystem::path& temp,
                               const std::filesystem::path& home, bool testing)
{
    const std::filesystem::path applicationSupport = home / "Library/Application Support";
    const std::filesystem::path backupFolder = backupFolderIn(applicationSupport, product);
    Transaction transaction(backupFolder);
    const std::string launchdDomain = "gui/" + std::to_string(::getuid());
    const std::filesystem::path launchAgentFile = home / "Library/LaunchAgents/de.geoweave.ofxpath.plist";

    nlohmann::json result = nlohmann::json::object();
    result["product"] = product.name;
    result["version"] = product.version;
    result["testHome"] = testing;
    result["backupDirectory"] = backupFolder.native();

    RunContext context{
        .product = product,
        .home = home,
        .payload = payload,
        .temp = temp,
        .testing = testing,
        .transaction = transaction,
        .applicationSupport = applicationSupport,
        .backupFolder = backupFolder,
        .result = result,
        .launchdDomain = launchdDomain,
        .launchAgentFile = launchAgentFile,
        .launchAgentLabel = launchAgentLabel,
        .launchdChanged = false,
        .previousLaunchdValue = {},
    };

    try {
        const auto recipe = recipes.find(product.id);
        if (recipe == recipes.end()) throw InstallError(messages::unknownProduct);
        recipe->second(context);
        fm->writeAtomically(backupFolder / "INSTALLATION.json", jsonData(result));
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        const std::vector<std::string> unrestored = transaction.rollback();
        if (context.launchdChanged) restoreLaunchd(context);
        if (unrestored.empty()) std::rethrow_exception(failure);
        throw InstallError(messages::notRestored(backupFolder.native()));
    }
    return result;
}

nlohmann::json install(const Product& product, const std::filesystem::path& payload, const std::filesystem::path& temp,
                       const std::filesystem::path& home, bool testing)
{
    return runInstallation(productRecipes(), product, payload, temp, home, testing);
}

}  // namespace kb
