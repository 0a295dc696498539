#pragma once
// What the installer needs from the desktop: becoming a foreground
// application, modal message dialogs, and the list of running applications.
// A seam, so flow tests can answer dialogs from a script.

#include "platform/scoped_service.h"

#include <functional>
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

// What a progress window shows at one moment.
struct ProgressReport {
    std::string line;                // what happens now, one line of text
    std::optional<double> fraction;  // the part done, 0 to 1, where the amount of work is known; else only activity
    bool cancellable = true;         // whether the cancel button is offered (and closing the window counts)
};

// Work that runs elsewhere (on another thread) while a progress window keeps
// the user informed. Every member is called on the thread that serves the
// desktop, never on the worker's.
struct WatchedWork {
    std::string title;                       // the window's title
    std::string cancelButton;                // the title of its one button
    std::function<bool()> finished;          // whether the work has ended
    std::function<ProgressReport()> report;  // what to show now
    std::function<void()> cancel;            // the user asked to stop: the button, or closing the window
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
    // Serves the desktop's events on this thread until work.finished(), so the
    // program keeps answering while the work runs. Once half a second has
    // passed without the work ending, a window titled work.title shows
    // report()'s line, a bar (filled to the fraction, or moving while the
    // amount is unknown) and the button, kept up to date; the button, Escape or
    // closing the window call cancel() (at most once, and only while the
    // report says cancellable). No window is left on screen when it returns.
    // This one shows nothing and only waits, for desktops without windows.
    virtual void watch(const WatchedWork& work);
};

// The process-wide desktop, set by the entry point.
extern Desktop* desktop;

// The desktop of the system the program runs on. Making it opens no
// display yet; activate() and alert() do.
std::unique_ptr<Desktop> makeSystemDesktop();

}  // namespace kb
