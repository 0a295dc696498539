#pragma once
// What the installer needs from the desktop: becoming a foreground
// application, modal message dialogs, a progress window, and the list of
// running applications. A seam, so flow tests can answer dialogs from a
// script. The desktop belongs to the program's main thread: every member is
// called there, and so is everything it calls back.

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

// Why a desktop can serve no more windows: its display went away (the X
// server ended, or the connection broke), or the system asked the program to
// quit (the Dock's Quit, a logout).
enum class DesktopGone { display, quit };

// Work that runs elsewhere (on another thread) while a progress window keeps
// the user informed. Every member is called on the thread that serves the
// desktop, never on the worker's.
struct WatchedWork {
    std::string title;                       // the window's title
    std::string cancelButton;                // the title of its one button
    std::function<bool()> finished;          // whether the work has ended
    std::function<ProgressReport()> report;  // what to show now
    // The user asked to stop (the button, Escape, closing the window, or the
    // window destroyed by another program): whether the work accepted it.
    std::function<bool()> cancel;
    // The desktop can serve no more: stops the work as far as it still can be
    // stopped, waits for its end, reports it, and ends the program. Never returns.
    std::function<void(DesktopGone)> abandon;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // Makes the program an ordinary foreground application that can own dialogs.
    virtual void activate() = 0;
    // Shows a modal information dialog in front of everything else: `title`
    // as its heading, `body` below it, and `buttons` in order, the first one
    // the default. Returns the index of the button chosen; Escape and closing
    // the window choose the last one, the way out.
    virtual std::size_t alert(const std::string& title, const std::string& body,
                              const std::vector<std::string>& buttons) = 0;
    // Whether the user holds the Option key (⌥; Alt on other keyboards) now,
    // as a program just opened finds out whether it was opened with it held.
    virtual bool optionKeyHeld() { return false; }
    // The applications of the current user, in the order the system lists them.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Serves the desktop's events on this thread until work.finished(), so the
    // program keeps answering while the work runs. Once half a second has
    // passed without the work ending, a window titled work.title shows
    // report()'s line, a bar (filled to the fraction, or moving while the
    // amount is unknown) and the button, kept up to date; the button, Escape,
    // closing or destroying the window call cancel() (until it accepts, and
    // only while the report says cancellable). Should the display go away or
    // the system ask the program to quit meanwhile, abandon() is called. No
    // window is left on screen when it returns. This one shows nothing and
    // only waits, for desktops without windows.
    virtual void watch(const WatchedWork& work);
    // What the program does when the desktop goes away outside a watched run
    // (during a dialog): report and end. Without it the program just ends.
    std::function<void(DesktopGone)> whenGone;
};

// The process-wide desktop, set by the entry point.
extern Desktop* desktop;

// The desktop of the system the program runs on. Making it opens no
// display yet; activate() and alert() do.
std::unique_ptr<Desktop> makeSystemDesktop();

}  // namespace kb
