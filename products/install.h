#pragma once
// The install frame: one run of a product's recipe, with backups, rollback
// and the install record.

#include "core/product.h"
#include "core/progress.h"
#include "fileops/run_folder.h"
#include "products/recipe.h"

#include <filesystem>
#include <nlohmann/json.hpp>

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

}  // namespace kb
