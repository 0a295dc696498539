#pragma once

#include <string>

namespace kb {

// Shows a modal information dialog: `title` as its heading, `body` below
// ("\n" breaks the line), and the buttons "OK", or "Installieren" then
// "Abbrechen" when `installButton` is set. True exactly for the first button.
bool alert(const std::string& title, const std::string& body, bool installButton = false);

}  // namespace kb
