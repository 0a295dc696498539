#include "app/interactive_flow.h"

#include "app/dialogs.h"
#include "core/messages.h"
#include "core/unicode.h"

namespace kb {

bool resolveIsRunning(const std::vector<RunningApplication>& applications)
{
    for (const RunningApplication& application : applications) {
        if (unicodeLowercase(application.bundleIdentifier.value_or("")).find("blackmagic-design.davinciresolve")
            != std::string::npos)
            return true;
        if (unicodeLowercase(application.localizedName.value_or("")) == "davinci resolve") return true;
    }
    return false;
}

std::optional<Mode> askWhatToDo(const Product& product)
{
    desktop->activate();
    // Read at once: the key is let go of soon after the double-click.
    const bool maintenance = desktop->optionKeyHeld();
    if (resolveIsRunning(desktop->runningApplications())) {
        alert(std::string(messages::resolveRunningTitle), std::string(messages::resolveRunningBody));
        return std::nullopt;
    }
    if (!maintenance) {
        if (alert(messages::confirmationTitle(product.name, product.version), messages::confirmationBody(product.message), true))
            return Mode::install;
        return std::nullopt;
    }
    const std::vector<std::string> buttons{std::string(messages::restoreButton), std::string(messages::uninstallButton),
                                           std::string(messages::cancelButton)};
    switch (choose(messages::maintenanceTitle(product.name), messages::maintenanceBody(product.name), buttons)) {
    case 0: return Mode::restore;
    case 1: return Mode::uninstall;
    default: return std::nullopt;
    }
}

std::string closingText(const Recipe& recipe, const nlohmann::json& result)
{
    return recipe.closingText() + messages::backupLine(result.at("backupDirectory").get<std::string>());
}

void showClosingDialog(const Product& product, const Recipe& recipe, Mode mode, const nlohmann::json& result)
{
    if (mode == Mode::install) {
        alert(messages::installedTitle(product.name), closingText(recipe, result) + std::string(messages::goBackLine));
        return;
    }
    const std::string title =
        mode == Mode::restore ? messages::restoredTitle(product.name) : messages::uninstalledTitle(product.name);
    alert(title, std::string(messages::restartResolve)
                     + messages::backupLine(result.at("backupDirectory").get<std::string>()));
}

}  // namespace kb
