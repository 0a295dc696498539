#include "app/interactive_flow.h"

#include "app/dialogs.h"
#include "core/messages.h"
#include "products/recipe.h"
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

namespace {

std::string textOf(const nlohmann::json& result, const char* key)
{
    auto found = result.find(key);
    return found != result.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

std::string closingText(const Product& product, const nlohmann::json& result)
{
    // Only a product the installer carries gets this far: install() refuses any other.
    const std::unique_ptr<Recipe> recipe = makeRecipe(product.id);
    const std::string text = recipe ? recipe->closingText(result) : std::string();
    return text + messages::backupLine(textOf(result, "backupDirectory"));
}

void showClosingDialog(const Product& product, const nlohmann::json& result)
{
    alert(messages::installedTitle(product.name), closingText(product, result));
}

}  // namespace kb
