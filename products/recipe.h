#pragma once
// What the install frame hands to a product's recipe, and what a recipe
// brings: the payload items it installs, its install steps, its restore after
// a failed run, its closing text.

#include "core/product.h"
#include "core/progress.h"
#include "fileops/transaction.h"

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

struct RunContext {
    const Product& product;
    std::filesystem::path home;     // the user's home, or the marked test folder
    std::filesystem::path payload;  // root of the verified payload
    std::filesystem::path temp;     // the run's scratch folder
    bool testing = false;
    Transaction& transaction;
    std::filesystem::path applicationSupport;  // home/Library/Application Support
    std::filesystem::path backupFolder;
    nlohmann::json& result;  // the result record; recipes add their keys last
    Progress& progress;      // told of the bytes of each item put in place (by the transaction)
};

struct BackupContents;

// One item a recipe puts in place: where, the label of its backup, the mode it
// is given, and whether it is the user's own data once there (the settings a
// script keeps), which an uninstall leaves.
struct RecipeItem {
    std::filesystem::path destination;
    std::string label;
    std::optional<unsigned> mode;
    bool usersOwn = false;
};

class Recipe {
public:
    virtual ~Recipe() = default;
    // The items the recipe puts in place in the run's home.
    virtual std::vector<RecipeItem> items(const RunContext& ctx) const = 0;
    // The items of the payload the recipe puts in place, each whole, by their
    // paths below the payload root ("/"-separated).
    virtual std::vector<std::string> payloadItems() const = 0;
    // Checks what is there before changing anything, then puts every item in
    // place through the run's transaction and adds its keys to the result.
    virtual void install(RunContext& ctx) = 0;
    // After a failed run, once the transaction has been rolled back: puts
    // back whatever the recipe changed beyond the files. Never throws; returns
    // what the user must be told of it beyond the failure (or nothing).
    virtual std::string restoreAfterFailure(const RunContext&) noexcept { return {}; }
    // Puts back the items `backup` holds (a backup folder already checked
    // against items()): each with a copy as it was, each that was not there
    // before taken away; then whatever the recipe keeps beyond its files.
    // Adds "restored" and "removed" to the result.
    virtual void restore(RunContext& ctx, const BackupContents& backup);
    // Takes away every item the recipe installs but the user's own, and
    // whatever it keeps beyond its files. Adds "removed" to the result.
    virtual void uninstall(RunContext& ctx);
    // The closing dialog's text, before the backup line, once install() has
    // succeeded.
    virtual std::string closingText() const = 0;
};

// Every item a recipe will change (installed items, folders it makes outside
// the transaction), named after the recipe's own checks and before its first
// change. In test mode each must lie inside the test folder (or be the test
// folder itself) once links are resolved, or the run is refused; the ordinary
// mode follows the user's links. The progress then counts the bytes the
// transaction copies into place.
void declareChanges(const RunContext& ctx, const std::vector<std::filesystem::path>& items);

// The test-mode check of declareChanges alone, for the items a restore or an
// uninstall changes.
void checkChangesInside(const RunContext& ctx, const std::vector<std::filesystem::path>& items);

// A fresh recipe for the product id, or nothing for an id this installer
// does not carry. Ids compare exactly.
std::unique_ptr<Recipe> makeRecipe(std::string_view id);

// The ids of the products this installer carries, in the registry's order.
std::vector<std::string_view> productIds();

}  // namespace kb
