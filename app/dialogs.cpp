#include "app/dialogs.h"

#include "platform/desktop.h"

namespace kb {

bool alert(const std::string& title, const std::string& body, bool installButton)
{
    return desktop->alert(title, body, installButton);
}

}  // namespace kb
