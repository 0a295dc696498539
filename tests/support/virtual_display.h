#pragma once
// A virtual X server for tests that open real dialogs, and programs started
// in the background to be answered while they wait.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kb::test {

// Starts Xvfb on a free display and waits until the server answers;
// the destructor stops it.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":<number>", the value for DISPLAY.
    const std::string& name() const { return name_; }

    // Runs an X client (xdotool, xdpyinfo, ...) on this display and waits for it.
    ProgramRun run(const std::string& program, const std::vector<std::string>& arguments) const;

    // Waits until a visible window with exactly this title has appeared and
    // returns its id. Gives up early once `stillWaiting` answers false (the
    // program that should show the window has ended, say).
    std::string waitForWindow(const std::string& title, const std::function<bool()>& stillWaiting = {}) const;

    // Gives the window the keyboard focus and types the keys into it.
    void pressKeys(const std::string& window, const std::vector<std::string>& keys) const;

private:
    pid_t server_ = -1;
    std::string name_;
};

// A program running in the background with its output captured.
class BackgroundProgram {
public:
    BackgroundProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const RunOptions& options = {});
    ~BackgroundProgram();  // kills the program if it still runs
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the end and returns status and output.
    ProgramRun wait();

private:
    TempDir capture_;
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = -1;
};

// Waits (a bounded number of short naps) until `ready` holds; false if it never did.
template <typename Condition>
bool eventually(Condition ready, int attempts = 600);

void napBriefly();

template <typename Condition>
bool eventually(Condition ready, int attempts)
{
    for (int i = 0; i < attempts; ++i) {
        if (ready()) return true;
        napBriefly();
    }
    return ready();
}

}  // namespace kb::test
