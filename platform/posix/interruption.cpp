#include "platform/interruption.h"

#include "platform/posix/system_calls.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <vector>

namespace kb {

namespace {

// Noted as if a signal: the user's own request to stop.
constexpr int userRequest = -1;

// The signals that report a fault of the program itself.
constexpr std::array<int, 7> faults = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};

// Every signal whose default is to end the process and that can be caught,
// then SIGCHLD, which only wakes a wait. SIGXFSZ is ignored while the
// handling lives. SIGPIPE is the system's answer to writing into a pipe
// nobody reads, which stays an ordinary write error (ignoreBrokenPipes); only
// when another process sends it does it end the run.
std::vector<int> handledSignals()
{
    std::vector<int> signals = {SIGHUP, SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
                                SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPIPE};
    signals.insert(signals.end(), faults.begin(), faults.end());
#ifdef __linux__
    signals.insert(signals.end(), {SIGIO, SIGPWR, SIGSTKFLT});
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
#endif
#ifdef SIGEMT
    signals.push_back(SIGEMT);
#endif
    signals.push_back(SIGCHLD);
    return signals;
}

const std::vector<int> handled = handledSignals();
std::vector<struct sigaction> previous(handled.size());
std::vector<bool> replaced(handled.size());
struct sigaction previousFileSizeAction {};

std::atomic<int> noted = 0;  // the first signal noted, userRequest, or 0 for none
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> wakeWrite = -1;  // the wake-up pipe's end the handler writes to
int wakeRead = -1;
bool active = false;  // an InterruptionHandling lives
bool held = false;    // checks no longer throw

void wake()
{
    const char byte = 0;
    // A full pipe already wakes whoever waits; nothing else can be done here.
    if (const int fd = wakeWrite.load(); fd >= 0 && ::write(fd, &byte, 1) < 0) {
    }
}

void note(int why)
{
    int none = 0;
    noted.compare_exchange_strong(none, why);
    wake();
}

void onSignal(int signal, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    const bool fault = std::find(faults.begin(), faults.end(), signal) != faults.end();
    const bool sentByAnother = info && (info->si_code == SI_USER || info->si_code == SI_QUEUE) && info->si_pid != 0
                               && info->si_pid != ::getpid();
    if (signal == SIGPIPE && !sentByAnother) {
        // A write into a pipe nobody reads: the write fails with EPIPE.
    } else if (fault && !sentByAnother) {
        // The program's own fault, or its abort(): the handling it had before
        // takes it, as the faulting instruction runs again or abort() raises
        // the signal again.
        const auto at = std::find(handled.begin(), handled.end(), signal) - handled.begin();
        ::sigaction(signal, &previous[static_cast<std::size_t>(at)], nullptr);
    } else if (signal == SIGCHLD) {
        wake();
    } else {
        note(signal);
    }
    errno = savedErrno;
}

void drainWakeups()
{
    std::array<char, 64> bytes{};
    while (wakeRead >= 0 && ::read(wakeRead, bytes.data(), bytes.size()) > 0) {
    }
}

}  // namespace

InterruptionHandling::InterruptionHandling()
{
    if (wakeRead < 0) {
        auto [readEnd, writeEnd] = system_calls::closeOnExecPipe("signal wake-ups");
        for (int fd : {readEnd.get(), writeEnd.get()}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        wakeRead = readEnd.release();
        wakeWrite = writeEnd.release();
    }
    drainWakeups();
    noted = 0;
    held = false;
    active = true;

    struct sigaction action {};
    action.sa_sigaction = onSignal;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < handled.size(); ++i) {
        const int signal = handled[i];
        ::sigaction(signal, nullptr, &previous[i]);
        replaced[i] = signal == SIGCHLD || signal == SIGPIPE || previous[i].sa_handler != SIG_IGN;
        action.sa_flags = SA_SIGINFO | SA_RESTART | (signal == SIGCHLD ? SA_NOCLDSTOP : 0);
        if (replaced[i]) ::sigaction(signal, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previousFileSizeAction);
}

InterruptionHandling::~InterruptionHandling()
{
    active = false;
    for (std::size_t i = 0; i < handled.size(); ++i) {
        if (replaced[i] && (noted == 0 || handled[i] == SIGCHLD)) ::sigaction(handled[i], &previous[i], nullptr);
    }
    ::sigaction(SIGXFSZ, &previousFileSizeAction, nullptr);
}

void checkInterruption()
{
    if (noted == 0 || held) return;
    held = true;
    throw Interrupted();
}

void holdInterruptions()
{
    held = true;
}

void requestStop() noexcept
{
    note(userRequest);
}

bool interruptionNoted()
{
    return noted != 0;
}

bool stoppedByUser()
{
    return noted == userRequest;
}

int wakeDescriptor()
{
    return active ? wakeRead : -1;
}

void wokenUp()
{
    drainWakeups();
    checkInterruption();
}

void pauseFor(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        pollfd wakeUp{wakeDescriptor(), POLLIN, 0};
        if (::poll(&wakeUp, 1, static_cast<int>(left)) > 0) wokenUp();
    }
}

void ignoreBrokenPipes()
{
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace kb
