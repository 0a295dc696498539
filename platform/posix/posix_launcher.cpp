#include "platform/posix/posix_launcher.h"

#include "platform/posix/system_calls.h"
#include "platform/system_error.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

extern char** environ;

namespace kb {

namespace {

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

}  // namespace

LaunchResult PosixLauncher::run(const std::filesystem::path& executable, const std::vector<std::string>& arguments)
{
    auto [readEnd, writeEnd] = system_calls::closeOnExecPipe(executable);

    // One pipe for both streams keeps their order as the child wrote them.
    SpawnActions actions;
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = 0;
    int error = ::posix_spawn(&child, executable.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (error != 0) throwSystemError(error, "start", executable);
    writeEnd.reset();

    // Read to the end first: a child that writes more than the pipe holds
    // would otherwise block forever while we wait for it.
    LaunchResult result;
    std::array<char, 65536> buffer{};
    for (;;) {
        ssize_t got = ::read(readEnd.get(), buffer.data(), buffer.size());
        if (got > 0) {
            result.output.append(buffer.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }

    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throwErrno("wait for", executable);
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
