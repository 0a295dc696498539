#include "app/dialogs.h"

#include "core/messages.h"
#include "platform/desktop.h"

namespace kb {

bool alert(const std::string& title, const std::string& body, bool installButton)
{
    std::vector<std::string> buttons;
    if (installButton) {
        buttons = {std::string(messages::installButton), std::string(messages::cancelButton)};
    } else {
        buttons = {std::string(messages::okButton)};
    }
    return desktop->alert(title, body, buttons) == 0;
}

std::size_t choose(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
{
    return desktop->alert(title, body, buttons);
}

}  // namespace kb
