#include "platform/interruption.h"

#include "platform/posix/system_calls.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace kb {

namespace {

// The signals that end the run, then SIGCHLD, which only wakes a wait.
constexpr std::array<int, 4> handledSignals = {SIGTERM, SIGINT, SIGHUP, SIGCHLD};

volatile sig_atomic_t noted = 0;       // the last ending signal noted; 0 for none
volatile sig_atomic_t wakeWrite = -1;  // the wake-up pipe's end the handler writes to
int wakeRead = -1;
bool active = false;  // an InterruptionHandling lives
bool held = false;    // checks no longer throw
std::array<struct sigaction, handledSignals.size()> previous{};
std::array<bool, handledSignals.size()> replaced{};

void onSignal(int signal)
{
    const int savedErrno = errno;
    if (signal != SIGCHLD) noted = signal;
    const char byte = 0;
    // A full pipe already wakes whoever waits; nothing else can be done here.
    if (wakeWrite >= 0 && ::write(wakeWrite, &byte, 1) < 0) {
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
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        const int signal = handledSignals[i];
        ::sigaction(signal, nullptr, &previous[i]);
        replaced[i] = signal == SIGCHLD || previous[i].sa_handler != SIG_IGN;
        action.sa_flags = SA_RESTART | (signal == SIGCHLD ? SA_NOCLDSTOP : 0);
        if (replaced[i]) ::sigaction(signal, &action, nullptr);
    }
}

InterruptionHandling::~InterruptionHandling()
{
    active = false;
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        if (replaced[i] && (noted == 0 || handledSignals[i] == SIGCHLD)) ::sigaction(handledSignals[i], &previous[i], nullptr);
    }
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

bool interruptionNoted()
{
    return noted != 0;
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
        pollfd wake{wakeDescriptor(), POLLIN, 0};
        if (::poll(&wake, 1, static_cast<int>(left)) > 0) wokenUp();
    }
}

void ignoreBrokenPipes()
{
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace kb
