#include "products/install.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "platform/file_manager.h"

#include <exception>
#include <string>
#include <vector>

namespace kb {

namespace {

// The backup folder's place below the application-support folder. The name
// is appended as text, never as a path of its own: an empty name or one that
// starts with "/" must not move the backups out of the home.
std::filesystem::path backupFolderIn(const std::filesystem::path& applicationSupport, const Product& product)
{
    return applicationSupport.native() + "/" + product.name + "/Installer-Backups/" + timestamp();
}

}  // namespace

nlohmann::json runInstallation(std::unique_ptr<Recipe> recipe, const Product& product,
                               const std::filesystem::path& payload, const std::filesystem::path& temp,
                               const std::filesystem::path& home, bool testing)
{
    const std::filesystem::path applicationSupport = home / "Library/Application Support";
    const std::filesystem::path backupFolder = backupFolderIn(applicationSupport, product);
    Transaction transaction(backupFolder);

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
    };

    try {
        if (!recipe) throw InstallError(messages::unknownProduct);
        recipe->install(context);
        fm->writeAtomically(backupFolder / "INSTALLATION.json", jsonData(result));
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        const std::vector<std::string> unrestored = transaction.rollback();
        if (recipe) recipe->restoreAfterFailure(context);
        if (unrestored.empty()) std::rethrow_exception(failure);
        throw InstallError(messages::notRestored(backupFolder.native()));
    }
    return result;
}

nlohmann::json install(const Product& product, const std::filesystem::path& payload, const std::filesystem::path& temp,
                       const std::filesystem::path& home, bool testing)
{
    return runInstallation(makeRecipe(product.id), product, payload, temp, home, testing);
}

}  // namespace kb
