#pragma once
// What the system desktops' watch() share: the loop that serves a toolkit's
// events until the work has ended, when the progress window opens and what it
// shows, when the user's request to stop reaches the work, and the records
// written to KESTRELBAY_DIALOG_LOG and KESTRELBAY_EVENT_GAP_LOG. A toolkit
// adds how it serves its events and its window.

#include "platform/desktop.h"

#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace kb {

class WatchLoop {
public:
    // Where a request to stop came from: the window's button (clicked or
    // pressed from the keyboard), or Escape and the window's close box.
    enum class Request { button, close };

    WatchLoop(const WatchLoop&) = delete;
    WatchLoop& operator=(const WatchLoop&) = delete;

    // Serves events until work.finished(); the window, if it was opened, is
    // closed again when this returns or throws.
    void run();
    // For the window: calls work.cancel() when the user asks while the report
    // says the work can be cancelled, until the work accepts; other requests
    // are ignored. The work decides, so that a request racing its last change
    // is either a stop it carries out or refused.
    void stop(Request from);
    // Shows the work's report now, when the window is open.
    void refresh();
    const WatchedWork& work() const { return work_; }

protected:
    explicit WatchLoop(const WatchedWork& work) : work_(work) {}
    ~WatchLoop() = default;

    // Serves what is pending, first waiting for it at most `wait`.
    virtual void serve(std::chrono::milliseconds wait) = 0;
    // Puts the window on screen, centred and above other windows.
    virtual void open(const std::string& title, const std::string& button) = 0;
    // Shows `now`: its line, the bar at its fraction (or moved on a step when
    // there is none) and the button enabled exactly when now.cancellable.
    virtual void show(const ProgressReport& now) = 0;
    // Takes the window off the screen and serves the events that causes.
    virtual void close() = 0;

private:
    const WatchedWork& work_;
    bool open_ = false;
    std::vector<std::string> lines_;  // each line the window showed, in order
    std::optional<double> bar_;       // the fraction the bar showed last
    std::optional<Request> stopped_;  // where the request came from that cancelled the work
    std::exception_ptr failure_;      // what cancel() or report() threw below the toolkit's callbacks
};

}  // namespace kb
