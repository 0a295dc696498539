#pragma once
// Signals that ask the program to end (SIGTERM, SIGINT, SIGHUP), turned into
// an ordinary failure. While an InterruptionHandling lives they are only
// noted; the next check throws Interrupted, so the run ends as after any
// failure: rolled back, its scratch items and temporary folder removed, its
// child processes ended, one report.

#include <chrono>

namespace kb {

// The run was asked to end by a signal. Deliberately no std::exception: code
// that turns an ordinary failure into an answer ("no such item", "settings
// unreadable") must never take it for one.
class Interrupted {};

class InterruptionHandling {
public:
    // Starts noting the three signals; one that was ignored when the program
    // started (nohup, a background job of a shell) stays ignored.
    InterruptionHandling();
    // Gives the signals their previous handling back, unless one was noted:
    // then the run's end is still to be reported, and a further signal must
    // not cut that short.
    ~InterruptionHandling();
    InterruptionHandling(const InterruptionHandling&) = delete;
    InterruptionHandling& operator=(const InterruptionHandling&) = delete;
};

// Throws Interrupted when a signal was noted, once: after that, and after
// holdInterruptions(), signals are only noted.
void checkInterruption();

// From here on signals are only noted: called where a clean-up begins that
// must run to its end (a rollback, the removal of scratch items).
void holdInterruptions();

// Whether a signal was noted since the handling began.
bool interruptionNoted();

// For a wait that must not outlast a signal: a descriptor that becomes
// readable when one is noted or a child process ends, or -1 while no
// handling is in place. Once it was readable, wokenUp() empties it and
// checks as checkInterruption() does.
int wakeDescriptor();
void wokenUp();

// Waits for `duration`, or less when a signal is noted: then it checks as
// checkInterruption() does (after holdInterruptions() it just waits on).
void pauseFor(std::chrono::milliseconds duration);

// Writing to a pipe that nobody reads any more then fails with EPIPE, an
// ordinary write error, instead of ending the program.
void ignoreBrokenPipes();

}  // namespace kb
