#pragma once
// Starting another program: the seam behind the command runner, so tests can
// answer in place of a real tool.

#include <filesystem>
#include <string>
#include <vector>

namespace kb {

struct LaunchResult {
    int status = 0;      // exit status; 128 + signal number for a child ended by a signal
    std::string output;  // standard output and standard error, interleaved, as raw bytes
};

class Launcher {
public:
    virtual ~Launcher() = default;
    // Runs `executable` (no search along PATH, no shell) with `arguments`,
    // reads its output to the end, then waits for it. Throws std::system_error
    // when the program cannot be started.
    virtual LaunchResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments) = 0;
};

class PosixLauncher final : public Launcher {
public:
    LaunchResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments) override;
};

// The process-wide launcher, set by the entry point.
extern Launcher* launcher;

class ScopedLauncher {
public:
    explicit ScopedLauncher(Launcher& replacement) : previous_(launcher) { launcher = &replacement; }
    ~ScopedLauncher() { launcher = previous_; }
    ScopedLauncher(const ScopedLauncher&) = delete;
    ScopedLauncher& operator=(const ScopedLauncher&) = delete;

private:
    Launcher* previous_;
};

}  // namespace kb
