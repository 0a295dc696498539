// The real launcher on POSIX systems: posix_spawn with one pipe for both
// output streams.

#include "platform/interruption.h"
#include "platform/launcher.h"
#include "platform/posix/posix_file_manager.h"
#include "platform/posix/system_calls.h"
#include "platform/system_error.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

extern char** environ;

namespace kb {

namespace {

class PosixLauncher final : public Launcher {
public:
    LaunchResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                     const FileLock* shared) override;
};

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

// The child starts in a process group of its own, so that ending it ends
// whatever it started too, and a terminal's Ctrl-C reaches the installer
// alone, which then ends the child itself. It gets the default handling of
// SIGPIPE back, which the installer ignores. It inherits no descriptor but
// the three its file actions set up, not even one that a library opened
// without close-on-exec: Apple's systems close the rest with a spawn flag,
// glibc with a file action.
class SpawnAttributes {
public:
    SpawnAttributes()
    {
        ::posix_spawnattr_init(&attributes_);
        sigset_t defaults;
        ::sigemptyset(&defaults);
        ::sigaddset(&defaults, SIGPIPE);
        ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
        flags = static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT);
#endif
        ::posix_spawnattr_setflags(&attributes_, flags);
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
};

// After a wake-up: when it was a signal that ends the run, the child and its
// group are ended and waited for before the interruption goes on.
void endChildIfInterrupted(pid_t child)
{
    try {
        wokenUp();
    } catch (...) {
        ::kill(-child, SIGTERM);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        throw;
    }
}

}  // namespace

LaunchResult PosixLauncher::run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                                const FileLock* shared)
{
    auto [readEnd, writeEnd] = system_calls::closeOnExecPipe(executable);

    // One pipe for both streams keeps their order as the child wrote them.
    // Standard input is /dev/null: a tool that reads it ends at once instead
    // of waiting for the installer's terminal.
    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO);
    // A shared lock goes to the child as its fourth descriptor, the one more
    // it inherits: the lock then lasts as long as either holds it.
    int inherited = STDERR_FILENO + 1;
    if (const auto* lock = dynamic_cast<const PosixFileLock*>(shared))
        ::posix_spawn_file_actions_adddup2(actions.get(), lock->descriptor(), inherited++);
#ifdef __GLIBC__
#if __GLIBC_PREREQ(2, 34)
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), inherited);
#endif
#endif
    SpawnAttributes attributes;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = 0;
    int error = ::posix_spawn(&child, executable.c_str(), actions.get(), attributes.get(), argv.data(), environ);
    if (error != 0) throwSystemError(error, "start", executable);
    writeEnd.reset();

    // Read to the end first: a child that writes more than the pipe holds
    // would otherwise block forever while we wait for it. While signals are
    // handled, the wait also wakes for one (and for the child's end, once
    // its output is closed), so that an interruption never waits for the child.
    const int wake = wakeDescriptor();
    LaunchResult result;
    std::array<char, 65536> buffer{};
    int status = 0;
    for (bool reading = true;;) {
        if (!reading) {
            const pid_t ended = ::waitpid(child, &status, wake < 0 ? 0 : WNOHANG);
            if (ended == child) break;
            if (ended < 0 && errno != EINTR) throwErrno("wait for", executable);
            if (wake < 0) continue;
        }
        std::array<pollfd, 2> watched{{{reading ? readEnd.get() : -1, POLLIN, 0}, {wake, POLLIN, 0}}};
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) throwErrno("wait for", executable);
        if (watched[1].revents != 0) endChildIfInterrupted(child);
        if (watched[0].revents == 0) continue;
        const ssize_t got = ::read(readEnd.get(), buffer.data(), buffer.size());
        if (got > 0) {
            result.output.append(buffer.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            reading = false;
        }
    }

    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = 128 + WTERMSIG(status);
    } else {
        result.status = 255;
    }
    return result;
}

std::unique_ptr<Launcher> makeSystemLauncher()
{
    return std::make_unique<PosixLauncher>();
}

}  // namespace kb
