#include "products/install.h"

#include "core/failure_text.h"
#include "core/install_error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"

#include <exception>
#include <string>
#include <system_error>
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

// Refuses any item that does not lie inside the test folder. An item's own
// last component is never followed: the transaction replaces a link there and
// does not write through it.
void checkInsideTestHome(const std::filesystem::path& home, const std::vector<std::filesystem::path>& items)
{
    const std::string testFolder = resolvedPlace(home);
    for (const std::filesystem::path& item : items) {
        const std::filesystem::path standardized = standardizedPath(item);
        const std::string place = standardized == standardizedPath(home)
                                      ? testFolder
                                      : resolvedPlace(standardized.parent_path()) + "/" + standardized.filename().native();
        if (!inside(standardizedPath(place), testFolder)) throw InstallError(messages::outsideTestHome(item));
    }
}

// One run per home at a time, from before the first change to the end of any
// rollback: a second run would otherwise have its items taken back by the
// first one's rollback. The lock is the home folder's own, which needs no
// write and leaves nothing behind, so nothing a user or an earlier run left
// anywhere can refuse a run. Where the home cannot be locked at all (a file
// system without locks), the run goes on without.
std::unique_ptr<FileLock> lockHome(const std::filesystem::path& home, bool testing)
{
    std::unique_ptr<FileLock> lock;
    try {
        lock = fm->lockExclusively(home);
    } catch (const std::system_error&) {
        return nullptr;
    }
    if (!lock) throw InstallError(messages::anotherRunActive(testing));
    return lock;
}

}  // namespace

void declareChanges(const RunContext& ctx, const std::vector<std::filesystem::path>& items)
{
    if (ctx.testing) checkInsideTestHome(ctx.home, items);
    ctx.progress.begin(Step::install);
}

nlohmann::json install(Recipe& recipe, const Product& product, const std::filesystem::path& payload, RunFolder& run,
                       const std::filesystem::path& home, bool testing, Progress& progress)
{
    const std::filesystem::path applicationSupport = home / "Library/Application Support";
    const std::filesystem::path backupFolder = backupFolderIn(applicationSupport, product);
    if (testing) checkInsideTestHome(home, {backupFolder});
    // From here on every change below the test folder is made from the test
    // folder's own descriptor, so that a folder another program swaps for a
    // link meanwhile leads nowhere outside.
    const std::unique_ptr<Confinement> sealed = testing ? fm->confine(home) : nullptr;
    const std::unique_ptr<FileLock> lock = lockHome(home, testing);
    run.recordHome(home);
    run.sweepAbandonedRuns();
    Transaction transaction(
        backupFolder, [&run](const std::filesystem::path& item) { run.recordScratchItem(item); }, &progress);

    nlohmann::json result = nlohmann::json::object();
    result["product"] = product.name;
    result["version"] = product.version;
    result["testHome"] = testing;
    result["backupDirectory"] = backupFolder.native();

    RunContext context{
        .product = product,
        .home = home,
        .payload = payload,
        .temp = run.path(),
        .testing = testing,
        .transaction = transaction,
        .applicationSupport = applicationSupport,
        .backupFolder = backupFolder,
        .result = result,
        .progress = progress,
    };

    try {
        recipe.install(context);
        progress.lastChangeDone();
        transaction.makeBackupRoot();
        fm->writeAtomically(backupFolder / "INSTALLATION.json", jsonData(result));
    } catch (...) {
        // A signal from here on is only noted: the rollback and the recipe's
        // restore always run to their end.
        holdInterruptions();
        const std::exception_ptr failure = std::current_exception();
        const std::vector<std::string> unrestored = transaction.rollback();
        const std::string note = recipe.restoreAfterFailure(context);
        if (unrestored.empty() && note.empty()) std::rethrow_exception(failure);
        const std::string told = unrestored.empty() ? describeFailure(failure, home) : messages::notRestored(backupFolder.native());
        throw InstallError(note.empty() ? told : told + " " + note);
    }
    return result;
}

}  // namespace kb
