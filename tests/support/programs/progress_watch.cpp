// progress_watch -- <title> <button> <step>...: the system desktop (GTK, or AppKit built against GNUstep) watches
// fake work on a thread of its own. Each step "<ms> <fraction, or -> <c: cancellable, or n> <line>" is reported for
// that long; the work ends after the last one, or 300 ms after cancel(), which prints "cancel" each time it is called
// and accepts while the step is cancellable. Should the desktop go away, it prints "abandoned" and ends with status 3
// once the work has ended. The program ends half a second after watch() has returned, so that a test sees the window
// gone first. The texts follow "--", as for appkit_alert.

#include "platform/desktop.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace std::chrono;
    std::mutex mutex;
    kb::ProgressReport report;
    std::atomic<bool> finished = false, cancelled = false;
    std::thread worker([&] {
        for (int step = 4; step < argc && !cancelled; ++step) {
            std::istringstream fields(argv[step]);
            int ms = 0;
            std::string fraction, flag, line;
            fields >> ms >> fraction >> flag >> std::ws, std::getline(fields, line);
            const std::optional<double> part = fraction == "-" ? std::nullopt : std::optional(std::stod(fraction));
            std::unique_lock lock(mutex);
            report = {line, part, flag == "c"};
            lock.unlock();
            for (const auto end = steady_clock::now() + milliseconds(ms); !cancelled && steady_clock::now() < end;)
                std::this_thread::sleep_for(milliseconds(5));
        }
        if (cancelled) std::this_thread::sleep_for(milliseconds(300));
        finished = true;
    });
    const std::unique_ptr<kb::Desktop> desktop = kb::makeSystemDesktop();
    desktop->activate();
    desktop->watch({argv[2], argv[3], [&] { return finished.load(); },
                    [&] { const std::scoped_lock lock(mutex); return report; },
                    [&] {
                        const std::scoped_lock lock(mutex);
                        std::puts("cancel"), std::fflush(stdout);
                        return cancelled = report.cancellable;
                    },
                    [&](kb::DesktopGone) {
                        cancelled = true, worker.join();
                        std::puts("abandoned"), std::fflush(stdout), ::_exit(3);
                    }});
    worker.join();
    std::this_thread::sleep_for(milliseconds(500));
}
