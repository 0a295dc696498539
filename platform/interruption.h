#pragma once
// Signals that ask the program to end, and the user's own request to stop
// (the progress window's button), turned into an ordinary failure. While an
// InterruptionHandling lives they are only noted; the next check throws
// Interrupted, so the run ends as after any failure: rolled back, its scratch
// items and temporary folder removed, its child processes ended, one report.
//
// Every signal whose default is to end the process and that can be caught is
// noted (SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, the real-time
// ones, ...). Those that report a fault of the program itself (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS) are noted only when
// another process sent them; the program's own fault ends it as before. So is
// SIGPIPE: the system's own, for a write into a pipe nobody reads, leaves the
// write to fail with EPIPE.
// SIGXFSZ is ignored meanwhile, so a write beyond the file-size limit fails
// with EFBIG and the ordinary failure path runs.
//
// Threads: the handling, the checks, holdInterruptions, pauseFor and the wake
// descriptor belong to the run's own thread (the worker of an interactive
// run); requestStop, interruptionNoted and stoppedByUser may be called from
// any thread.

#include <chrono>

namespace kb {

// The run was asked to end. Deliberately no std::exception: code that turns
// an ordinary failure into an answer ("no such item", "settings unreadable")
// must never take it for one.
class Interrupted {};

class InterruptionHandling {
public:
    // Starts noting the signals; one that was ignored when the program started
    // (nohup, a background job of a shell) stays ignored.
    InterruptionHandling();
    // Gives the signals their previous handling back, unless one was noted:
    // then the run's end is still to be reported, and a further signal must
    // not cut that short.
    ~InterruptionHandling();
    InterruptionHandling(const InterruptionHandling&) = delete;
    InterruptionHandling& operator=(const InterruptionHandling&) = delete;
};

// Throws Interrupted when a signal or a request was noted, once: after that,
// and after holdInterruptions(), they are only noted.
void checkInterruption();

// From here on signals are only noted: called where a clean-up begins that
// must run to its end (a rollback, the removal of scratch items).
void holdInterruptions();

// The user asked the run to stop; noted as a signal is. Safe from any thread.
// While no handling lives it is forgotten when the next one begins: whoever
// asks before then asks again once the run can be stopped
// (Progress::stoppable).
void requestStop() noexcept;

// Whether a signal or a request was noted since the handling began, and
// whether it was the user's request (the first one noted counts).
bool interruptionNoted();
bool stoppedByUser();

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
