// appkit_quit -- <title>: the AppKit desktop (built against GNUstep) watches fake work while the program is asked to
// quit, as the Dock's Quit or a logout asks it: terminate: is sent a second and a half in, once the window shows. The
// work stops when cancel() is called ("cancel"), takes 300 ms to put its changes back, and the program ends through
// abandon() ("abandoned quit", status 3).

#import <AppKit/AppKit.h>

#include "platform/desktop.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int, char** argv)
{
    using namespace std::chrono;
    std::atomic<bool> finished = false, cancelled = false;
    std::thread worker([&] {
        while (!cancelled) std::this_thread::sleep_for(milliseconds(5));
        std::this_thread::sleep_for(milliseconds(300));
        finished = true;
    });
    const std::unique_ptr<kb::Desktop> desktop = kb::makeSystemDesktop();
    desktop->activate();
    [NSTimer scheduledTimerWithTimeInterval:1.5 target:NSApp selector:@selector(terminate:) userInfo:nil repeats:NO];
    desktop->watch({argv[2], "Abbrechen", [&] { return finished.load(); },
                    [] { return kb::ProgressReport{"Kopieren", 0.5, true}; },
                    [&] {
                        std::puts("cancel"), std::fflush(stdout);
                        return cancelled = true;
                    },
                    [&](kb::DesktopGone why) {
                        worker.join();
                        std::printf("abandoned %s\n", why == kb::DesktopGone::quit ? "quit" : "display");
                        std::fflush(stdout), std::_Exit(3);
                    }});
    worker.join();
}
