#pragma once
// The dialogs around an installation started without arguments.

#include "core/product.h"
#include "platform/desktop.h"
#include "products/recipe.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kb {

// Becomes a foreground application, refuses while DaVinci Resolve runs and
// asks for confirmation. True when the user chose "Installieren".
bool confirmInstallation(const Product& product);

// Whether any of the applications is DaVinci Resolve: a bundle identifier
// containing "blackmagic-design.davinciresolve", or a name that is exactly
// "davinci resolve", both in any letter case.
bool resolveIsRunning(const std::vector<RunningApplication>& applications);

// The body of the closing dialog: the next steps of the recipe that ran, then
// the line naming the backup folder of its result record.
std::string closingText(const Recipe& recipe, const nlohmann::json& result);

// Tells the user the product is installed, what to do next and where the backup lies.
void showClosingDialog(const Product& product, const Recipe& recipe, const nlohmann::json& result);

}  // namespace kb
