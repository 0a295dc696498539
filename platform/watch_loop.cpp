#include "platform/watch_loop.h"

#include "platform/desktop_log.h"

#include <algorithm>

namespace kb {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds quietTime{500};   // work that ends sooner shows no window
constexpr milliseconds pollTime{10};     // the longest serve() waits for an event
constexpr milliseconds refreshTime{30};  // how often the open window asks for a new report

}  // namespace

void WatchLoop::run()
{
    const Clock::time_point start = Clock::now();
    Clock::time_point served = start, refreshed = start;
    Clock::duration longestGap{};
    auto noteServed = [&] {
        const Clock::time_point now = Clock::now();
        longestGap = std::max(longestGap, now - served);
        served = now;
    };
    try {
        while (!work_.finished()) {
            serve(pollTime);
            noteServed();
            if (failure_) std::rethrow_exception(failure_);
            if (!(open_ ? served - refreshed >= refreshTime : served - start >= quietTime)) continue;
            if (!open_) open(work_.title, work_.cancelButton), open_ = true;
            refresh();
            refreshed = served;
        }
    } catch (...) {
        if (open_) close();
        throw;
    }
    if (open_) {
        refresh();  // the window's last look at the work: done, the bar full
        close();
        std::string record = "progress\ntitle: " + work_.title + "\n";
        for (const std::string& line : lines_) record += "line: " + line + "\n";
        if (bar_) record += "bar: " + std::to_string(static_cast<int>(*bar_ * 100 + 0.5)) + "%\n";
        record += "button: " + work_.cancelButton + "\nended: ";
        record += !stopped_ ? "done" : *stopped_ == Request::button ? "button" : "closed";
        appendToLog("KESTRELBAY_DIALOG_LOG", record + "\nend\n");
    }
    noteServed();
    const auto longest = std::chrono::duration_cast<milliseconds>(longestGap).count();
    appendToLog("KESTRELBAY_EVENT_GAP_LOG", "longest gap: " + std::to_string(longest) + " ms\n");
}

void WatchLoop::stop(Request from)
{
    if (stopped_ || failure_) return;
    try {
        // What the window offers is not the decision: the work decides, at
        // the moment it is asked.
        if (work_.report().cancellable && work_.cancel()) stopped_ = from;
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void WatchLoop::refresh()
{
    if (!open_) return;
    ProgressReport now = work_.report();
    now.cancellable = now.cancellable && !stopped_;
    if (lines_.empty() || lines_.back() != now.line) lines_.push_back(now.line);
    if (now.fraction) bar_ = now.fraction;
    show(now);
}

}  // namespace kb
