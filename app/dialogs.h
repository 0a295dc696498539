#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kb {

// Shows a modal information dialog: `title` as its heading, `body` below
// ("\n" breaks the line), and the buttons "OK", or "Installieren" then
// "Abbrechen" when `installButton` is set. True exactly for the first button.
bool alert(const std::string& title, const std::string& body, bool installButton = false);

// The same dialog with `buttons` of its own; the index of the one chosen
// (Escape and closing the window choose the last).
std::size_t choose(const std::string& title, const std::string& body, const std::vector<std::string>& buttons);

}  // namespace kb
