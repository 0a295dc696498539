#pragma once
// What the installer needs from the desktop: becoming a foreground
// application, modal message dialogs, and the list of running applications.
// A seam, so flow tests can answer dialogs from a script.

#include "platform/scoped_service.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kb {

struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
};

// No display to show a dialog on. The entry point tells the user so in
// its own words.
class DisplayUnavailable : public std::runtime_error {
public:
    DisplayUnavailable() : std::runtime_error("no display to show a dialog on") {}
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // Makes the program an ordinary foreground application that can own dialogs.
    virtual void activate() = 0;
    // Shows a modal information dialog in front of everything else: `title`
    // as its heading, `body` below it, and `buttons` in order, the first one
    // the default. True exactly when the first button was chosen; Escape and
    // closing the window count as any other button.
    virtual bool alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) = 0;
    // The applications of the current user, in the order the system lists them.
    virtual std::vector<RunningApplication> runningApplications() = 0;
};

// The process-wide desktop, set by the entry point.
extern Desktop* desktop;

// The desktop of the system the program runs on. Making it opens no
// display yet; activate() and alert() do.
std::unique_ptr<Desktop> makeSystemDesktop();

}  // namespace kb
