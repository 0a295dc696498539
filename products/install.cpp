#include "products/install.h"

#include "core/failure_text.h"
#include "core/install_error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"
#include "products/backup_record.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
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

void checkChangesInside(const RunContext& ctx, const std::vector<std::filesystem::path>& items)
{
    if (ctx.testing) checkInsideTestHome(ctx.home, items);
}

void declareChanges(const RunContext& ctx, const std::vector<std::filesystem::path>& items)
{
    checkChangesInside(ctx, items);
    ctx.progress.begin(Step::install);
}

namespace {

// What one run that changes a home does: the recipe's changes, given as
// `changes`.
using Changes = std::function<void(Recipe&, RunContext&)>;

// One run that changes `home`: the home locked (and, in test mode, sealed),
// abandoned runs swept, one transaction whose backup folder is made with its
// first change, the changes, the records (the backup folder's, then the run's
// INSTALLATION.json, the last thing a run writes); any failure rolled back,
// with whatever the recipe keeps beyond its files.
nlohmann::json changeHome(Recipe& recipe, const Product& product, const std::filesystem::path& payload, RunFolder& run,
                          const std::filesystem::path& home, bool testing, Progress& progress, nlohmann::json result,
                          const Changes& changes)
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

    result["product"] = product.name;
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
        changes(recipe, context);
        progress.lastChangeDone();
        transaction.makeBackupRoot();
        writeBackupRecord(transaction, home, product.name);
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

// The folder of this product's backups in the home.
std::filesystem::path backupsOf(const RunContext& ctx)
{
    return ctx.applicationSupport.native() + "/" + ctx.product.name + "/Installer-Backups";
}

// The backup folder a restore puts back: the one named, which must be one of
// this product's backup folders in this home (not a link, nor reached through
// one leading elsewhere), or the most recent one that holds a copy of an
// item. Its record must name only the recipe's items at their places, and the
// folder must hold what the record says. Anything else is refused before
// anything is changed.
BackupContents chosenBackup(const Recipe& recipe, const RunContext& ctx, const std::optional<std::filesystem::path>& named)
{
    const std::filesystem::path backups = backupsOf(ctx);
    std::optional<BackupContents> chosen;
    if (named) {
        const std::filesystem::path folder = standardizedPath(named->is_absolute() ? *named : std::filesystem::current_path() / *named);
        const bool ours = resolvedPlace(folder.parent_path()) == resolvedPlace(backups) && kb::exists(folder)
                          && fm->attributes(folder).type == FileType::directory;
        if (!ours) throw InstallError(messages::notThisProductsBackup(folder.native(), ctx.product.name));
        chosen = readBackupRecord(folder);
        if (!chosen) throw InstallError(messages::backupNotUsable(folder.native()));
    } else {
        std::vector<DirectoryEntry> folders;
        if (itemAt(backups)) folders = fm->contentsOfDirectory(backups);
        // Stamps sort as the times they name: the most recent last.
        for (auto entry = folders.rbegin(); entry != folders.rend() && !chosen; ++entry) {
            if (entry->type != FileType::directory) continue;
            std::optional<BackupContents> contents = readBackupRecord(backups / entry->name);
            if (!contents || contents->product != ctx.product.name) continue;
            for (const auto& [label, item] : contents->items) {
                if (item.copy) chosen = std::move(contents);
                if (chosen) break;
            }
        }
        if (!chosen) throw InstallError(messages::nothingToRestore(ctx.product.name));
    }
    bool fits = chosen->product == ctx.product.name;
    const std::vector<RecipeItem> items = recipe.items(ctx);
    for (const auto& saved : chosen->items) {
        const auto item =
            std::find_if(items.begin(), items.end(), [&](const RecipeItem& one) { return one.label == saved.first; });
        fits = fits && item != items.end()
               && saved.second.place == item->destination.lexically_relative(ctx.home).generic_string();
    }
    if (!fits || !holdsWhatItsRecordSays(*chosen)) throw InstallError(messages::backupNotUsable(chosen->folder.native()));
    return *chosen;
}

}  // namespace

nlohmann::json install(Recipe& recipe, const Product& product, const std::filesystem::path& payload, RunFolder& run,
                       const std::filesystem::path& home, bool testing, Progress& progress)
{
    nlohmann::json result = nlohmann::json::object();
    result["version"] = product.version;
    return changeHome(recipe, product, payload, run, home, testing, progress, std::move(result),
                      [](Recipe& chosen, RunContext& ctx) { chosen.install(ctx); });
}

nlohmann::json restore(Recipe& recipe, const Product& product, RunFolder& run, const std::filesystem::path& home,
                       bool testing, const std::optional<std::filesystem::path>& named, Progress& progress)
{
    return changeHome(recipe, product, {}, run, home, testing, progress, nlohmann::json::object(),
                      [&named](Recipe& chosen, RunContext& ctx) {
                          const BackupContents backup = chosenBackup(chosen, ctx, named);
                          ctx.progress.begin(Step::restore);
                          ctx.result["restoredFrom"] = backup.folder.native();
                          chosen.restore(ctx, backup);
                      });
}

nlohmann::json uninstall(Recipe& recipe, const Product& product, RunFolder& run, const std::filesystem::path& home,
                         bool testing, Progress& progress)
{
    return changeHome(recipe, product, {}, run, home, testing, progress, nlohmann::json::object(),
                      [](Recipe& chosen, RunContext& ctx) {
                          ctx.progress.begin(Step::uninstall);
                          chosen.uninstall(ctx);
                      });
}

void Recipe::restore(RunContext& ctx, const BackupContents& backup)
{
    nlohmann::json restored = nlohmann::json::array(), removed = nlohmann::json::array();
    for (const RecipeItem& item : items(ctx)) {
        const auto saved = backup.items.find(item.label);
        if (saved == backup.items.end()) continue;  // the run that made the backup left it alone
        checkChangesInside(ctx, {item.destination});
        if (const std::optional<SavedCopy>& copy = saved->second.copy) {
            // A file gets its mode as it was (its copy may have been made private).
            const std::optional<unsigned> mode = copy->type == FileType::regular ? std::optional(copy->mode) : std::nullopt;
            ctx.transaction.replace(backup.folder / item.label, item.destination, item.label, mode, Transaction::Origin::backup);
            restored.push_back(item.destination.native());
        } else if (itemAt(item.destination)) {
            ctx.transaction.remove(item.destination, item.label);
            removed.push_back(item.destination.native());
        }
    }
    ctx.result["restored"] = restored;
    ctx.result["removed"] = removed;
}

void Recipe::uninstall(RunContext& ctx)
{
    nlohmann::json removed = nlohmann::json::array();
    for (const RecipeItem& item : items(ctx)) {
        if (item.usersOwn || !itemAt(item.destination)) continue;
        checkChangesInside(ctx, {item.destination});
        ctx.transaction.remove(item.destination, item.label);
        removed.push_back(item.destination.native());
    }
    ctx.result["removed"] = removed;
}

}  // namespace kb
