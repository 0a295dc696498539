#pragma once
// Starting another program: the seam behind the command runner, so tests can
// answer in place of a real tool.

#include "platform/file_manager.h"
#include "platform/scoped_service.h"

#include <filesystem>
#include <memory>
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
    // when the program cannot be started. With `shared`, the program holds
    // that lock too for as long as it runs, also should this process end
    // first: a folder it writes into is not taken for an abandoned one.
    virtual LaunchResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                             const FileLock* shared = nullptr) = 0;
};

// The process-wide launcher, set by the entry point.
extern Launcher* launcher;

// The launcher of the system the program runs on.
std::unique_ptr<Launcher> makeSystemLauncher();

}  // namespace kb
