#pragma once
// The install frame: one run of a product's recipe (an installation, a
// restore or an uninstall), with backups, rollback and the records.

#include "core/product.h"
#include "core/progress.h"
#include "fileops/run_folder.h"
#include "products/recipe.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>

namespace kb {

// Installs the verified payload into `home` with `recipe`, inside one
// transaction that is rolled back on any failure, while holding the home's
// lock (one run per home at a time). Scratch items are recorded in `run`,
// whose folder is also the run's scratch folder; runs in the same home that
// were killed are swept first. Returns the result record, which is also
// written to INSTALLATION.json in the run's backup folder. `progress` hears
// of the items put in place and of the recipe's last change.
nlohmann::json install(Recipe& recipe, const Product& product, const std::filesystem::path& payload, RunFolder& run,
                       const std::filesystem::path& home, bool testing, Progress& progress);

// Puts back, in the same frame as an installation (one transaction with a
// backup folder and records of its own, so that it can be put back in turn),
// what a backup folder of the product holds: the one `named`, or the most
// recent one that holds a copy of an item. Refused before any change with the
// installer's own message when there is none, when the named folder is none of
// this product's in this home, or when the folder holds other than the
// recipe's items or other than its record says.
nlohmann::json restore(Recipe& recipe, const Product& product, RunFolder& run, const std::filesystem::path& home,
                       bool testing, const std::optional<std::filesystem::path>& named, Progress& progress);

// Takes away, in the same frame, what the product installs, but for the
// user's own data.
nlohmann::json uninstall(Recipe& recipe, const Product& product, RunFolder& run, const std::filesystem::path& home,
                         bool testing, Progress& progress);

}  // namespace kb
