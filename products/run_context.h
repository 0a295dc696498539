#pragma once
// What the install frame hands to a product's recipe.

#include "core/product.h"
#include "fileops/transaction.h"

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

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

    // Only the plug-in recipe uses these.
    std::string launchdDomain;  // "gui/<uid>"
    std::filesystem::path launchAgentFile;
    std::string launchAgentLabel;
    // Set once the recipe starts changing launchd outside test mode; the
    // frame then restores launchd after rolling back.
    bool launchdChanged = false;
    std::string previousLaunchdValue;  // OFX_PLUGIN_PATH before the run; empty in test mode
};

using Recipe = std::function<void(RunContext&)>;
using RecipeBook = std::map<std::string, Recipe>;

// The recipes this installer carries, by product id.
const RecipeBook& productRecipes();

// The install frame with the given recipes; install() uses productRecipes().
nlohmann::json runInstallation(const RecipeBook& recipes, const Product& product,
                               const std::filesystem::path& payload, const std::filesystem::path& temp,
                               const std::filesystem::path& home, bool testing);

}  // namespace kb
