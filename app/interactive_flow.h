#pragma once
// The dialogs around an installation started without arguments.

#include "app/command_line.h"
#include "core/product.h"
#include "platform/desktop.h"
#include "products/recipe.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace kb {

// Becomes a foreground application, refuses while DaVinci Resolve runs and
// asks what to do: opened plainly, whether to install (Mode::install for
// "Installieren"); opened with the Option key held, whether to restore the
// last backup or to uninstall. Nothing when the user chose neither.
std::optional<Mode> askWhatToDo(const Product& product);

// Whether any of the applications is DaVinci Resolve: a bundle identifier
// containing "blackmagic-design.davinciresolve", or a name that is exactly
// "davinci resolve", both in any letter case.
bool resolveIsRunning(const std::vector<RunningApplication>& applications);

// The body of the closing dialog: the next steps of the recipe that ran, then
// the line naming the backup folder of its result record.
std::string closingText(const Recipe& recipe, const nlohmann::json& result);

// Tells the user the run `mode` is done, what to do next and where the
// backup lies; after an installation also how to go back.
void showClosingDialog(const Product& product, const Recipe& recipe, Mode mode, const nlohmann::json& result);

}  // namespace kb
