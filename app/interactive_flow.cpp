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

bool confirmInstallation(const Product& product)
{
    desktop->activate();
    if (resolveIsRunning(desktop->runningApplications())) {
        alert(std::string(messages::resolveRunningTitle), std::string(messages::resolveRunningBody));
        return false;
    }
    return alert(messages::confirmationTitle(product.name, product.version), messages::confirmationBody(product.message),
                 true);
}

std::string closingText(const Recipe& recipe, const nlohmann::json& result)
{
    return recipe.closingText() + messages::backupLine(result.at("backupDirectory").get<std::string>());
}

void showClosingDialog(const Product& product, const Recipe& recipe, const nlohmann::json& result)
{
    alert(messages::installedTitle(product.name), closingText(recipe, result));
}

}  // namespace kb
