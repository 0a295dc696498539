#pragma once

#include "core/product.h"

#include <filesystem>
#include <nlohmann/json.hpp>

namespace kb {

// Installs the verified payload into `home` for the product's recipe, inside
// one transaction that is rolled back on any failure. Returns the result
// record, which is also written to INSTALLATION.json in the run's backup folder.
nlohmann::json install(const Product& product, const std::filesystem::path& payload, const std::filesystem::path& temp,
                       const std::filesystem::path& home, bool testing);

}  // namespace kb
