#include "helpers/launchctl/job.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace kb::launchctl {

namespace {

std::string ownExecutable()
{
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("/proc/self/exe") : self.native();
}

}  // namespace

void startJob(const Agent& agent, const std::filesystem::path& record)
{
    std::string program = agent.program == "/bin/launchctl" ? ownExecutable() : agent.program;
    std::vector<std::string> arguments = agent.programArguments;
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return;
    for (int fd : {0, 1, 2}) {
        ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    // Opened without close-on-exec, so that the job inherits the record and
    // with it the lock. One still held by an earlier job that outlived its
    // end leaves this one unrecorded.
    int held = ::open(record.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) != 0) {
        ::close(held);
        held = -1;
    }
    pid_t child = 0;
    const int started = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (held < 0) return;
    // A record that cannot be written only means that endJob leaves the job alone.
    if (::ftruncate(held, 0) == 0 && started == 0) {
        const std::string group = std::to_string(child);
        [[maybe_unused]] const ssize_t written = ::write(held, group.data(), group.size());
    }
    ::close(held);
}

void endJob(const std::filesystem::path& record)
{
    const int fd = ::open(record.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return;
    // Locked by someone else: the job, or something it started, still runs.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        std::array<char, 32> text{};
        const ssize_t got = ::read(fd, text.data(), text.size());
        pid_t group = 0;
        const char* end = text.data() + (got > 0 ? got : 0);
        auto [last, error] = std::from_chars(text.data(), end, group);
        if (error == std::errc{} && last == end && group > 1) ::kill(-group, SIGKILL);
    }
    ::close(fd);
    ::unlink(record.c_str());
}

}  // namespace kb::launchctl
