#pragma once
// What the installer needs from the desktop: becoming a foreground
// application, modal message dialogs, and the list of running applications.
// A seam, so flow tests can answer dialogs from a script.

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

// The GTK 3 desktop used on Linux.
class GtkDesktop final : public Desktop {
public:
    void activate() override;
    bool alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) override;
    std::vector<RunningApplication> runningApplications() override;
};

// The processes of the current user, each named by its program file's full
// name (not the kernel's shortened one) and without a bundle identifier.
std::vector<RunningApplication> linuxRunningApplications();

extern Desktop* desktop;

class ScopedDesktop {
public:
    explicit ScopedDesktop(Desktop& replacement) : previous_(desktop) { desktop = &replacement; }
    ~ScopedDesktop() { desktop = previous_; }
    ScopedDesktop(const ScopedDesktop&) = delete;
    ScopedDesktop& operator=(const ScopedDesktop&) = delete;

private:
    Desktop* previous_;
};

}  // namespace kb
