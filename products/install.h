#pragma once

#include "core/product.h"
#include "products/recipe.h"

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

namespace kb {

// Installs the verified payload into `home` with the recipe for the
// product's id, inside one transaction that is rolled back on any failure.
// Returns the result record, which is also written to INSTALLATION.json in
// the run's backup folder.
nlohmann::json install(const Product& product, const std::filesystem::path& payload, const std::filesystem::path& temp,
                       const std::filesystem::path& home, bool testing);

// The same frame around the given recipe; none stands for an unknown product.
nlohmann::json runInstallation(std::unique_ptr<Recipe> recipe, const Product& product,
                               const std::filesystem::path& payload, const std::filesystem::path& temp,
                               const std::filesystem::path& home, bool testing);

}  // namespace kb
