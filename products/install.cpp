#include "products/install.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "payload/paths.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"

#include <exception>
#include <optional>
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

// Where `path` lies once links are resolved: the real path of its nearest
// part that resolves (itself, or the nearest folder above it), followed by
// the rest of the path with "." and ".." folded.
std::filesystem::path resolvedPlace(std::filesystem::path path)
{
    std::filesystem::path rest;
    std::optional<std::string> resolved;
    while (!(resolved = resolvedPath(path)) && path.has_relative_path()) {
        rest = rest.empty() ? path.filename() : path.filename() / rest;
        path = path.parent_path();
    }
    const std::filesystem::path found = resolved.value_or(path.native());
    return rest.empty() ? found : (found / rest).lexically_normal();
}

// Refuses any item that does not lie below the test folder. An item's own
// last component is never followed: the transaction replaces a link there and
// does not write through it.
void checkInsideTestHome(const std::filesystem::path& home, const std::vector<std::filesystem::path>& items)
{
    const std::string inside = resolvedPlace(home).native() + "/";
    for (const std::filesystem::path& item : items) {
        const std::filesystem::path place = (resolvedPlace(item.parent_path()) / item.filename()).lexically_normal();
        if (!place.native().starts_with(inside)) throw InstallError(messages::outsideTestHome(item));
    }
}

}  // namespace

void declareChanges(const RunContext& ctx, const std::vector<std::filesystem::path>& items)
{
    if (ctx.testing) checkInsideTestHome(ctx.home, items);
}

nlohmann::json runInstallation(std::unique_ptr<Recipe> recipe, const Product& product,
                               const std::filesystem::path& payload, const std::filesystem::path& temp,
                               const std::filesystem::path& home, bool testing)
{
    const std::filesystem::path applicationSupport = home / "Library/Application Support";
    const std::filesystem::path backupFolder = backupFolderIn(applicationSupport, product);
    // One run per home at a time, from before the first change to the end of
    // any rollback: a second run would otherwise have its items taken back by
    // the first one's rollback. The lock lies in Library, which every home on
    // a Mac has and the runs write below anyway, so it adds nothing to the
    // home's top level; it is shared by both products and removed at the end.
    const std::filesystem::path lockFile = home / "Library/.kestrelbay-installer.lock";
    if (testing) checkInsideTestHome(home, {backupFolder, lockFile});
    fm->createDirectory(lockFile.parent_path());
    const std::unique_ptr<FileLock> lock = fm->lockExclusively(lockFile);
    if (!lock) throw InstallError(messages::anotherRunActive);
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
        // A signal from here on is only noted: the rollback and the recipe's
        // restore always run to their end.
        holdInterruptions();
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
