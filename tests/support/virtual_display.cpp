#include "tests/support/virtual_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <map>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace kb::test {

namespace {

// xdotool takes the window name as a regular expression.
std::string exactPattern(const std::string& text)
{
    std::string pattern = "^";
    for (char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

}  // namespace

void napBriefly()
{
    timespec pause{0, 100'000'000};
    ::nanosleep(&pause, nullptr);
}

VirtualDisplay::VirtualDisplay()
{
    // Xvfb picks a free display number itself and writes it to the pipe once
    // it accepts connections, so parallel test runs never collide. Without
    // -noreset the server resets whenever its last client leaves, and a
    // program connecting just then is turned away.
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    server_ = ::fork();
    if (server_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (server_ == 0) {
        ::close(ends[0]);
        int quiet = ::open("/dev/null", O_RDWR);
        ::dup2(quiet, 0);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        std::string fd = std::to_string(ends[1]);
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
                "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[1]);
    std::string number;
    char c = 0;
    while (::read(ends[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(ends[0]);
    if (number.empty()) {
        ::waitpid(server_, nullptr, 0);
        server_ = -1;
        throw std::runtime_error("Xvfb did not start (is it installed? scripts/install-deps.sh)");
    }
    name_ = ":" + number;
    if (!eventually([&] { return run("/usr/bin/xdpyinfo", {}).status == 0; }, 300)) {
        ::kill(server_, SIGTERM);
        ::waitpid(server_, nullptr, 0);
        server_ = -1;
        throw std::runtime_error("the virtual display " + name_ + " does not answer");
    }
}

VirtualDisplay::~VirtualDisplay()
{
    if (server_ > 0) {
        ::kill(server_, SIGTERM);
        ::waitpid(server_, nullptr, 0);
    }
}

ProgramRun VirtualDisplay::run(const std::string& program, const std::vector<std::string>& arguments) const
{
    RunOptions options;
    options.environment["DISPLAY"] = name_;
    return runProgram(program, arguments, options);
}

std::string VirtualDisplay::waitForWindow(const std::string& title, const std::function<bool()>& stillWaiting) const
{
    std::string window;
    bool gaveUp = false;
    eventually([&] {
        if (stillWaiting && !stillWaiting()) return gaveUp = true;
        ProgramRun found = run("/usr/bin/xdotool", {"search", "--onlyvisible", "--name", exactPattern(title)});
        if (found.status != 0 || found.out.empty()) return false;
        window = found.out.substr(0, found.out.find('\n'));
        return true;
    });
    if (window.empty()) {
        throw std::runtime_error("no window titled \"" + title + "\" appeared on " + name_
                                 + (gaveUp ? " before the program ended" : ""));
    }
    return window;
}

void VirtualDisplay::pressKeys(const std::string& window, const std::vector<std::string>& keys) const
{
    ProgramRun focus = run("/usr/bin/xdotool", {"windowfocus", "--sync", window});
    if (focus.status != 0) throw std::runtime_error("cannot focus window " + window + ": " + focus.err);
    std::vector<std::string> arguments{"key", "--delay", "150"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    ProgramRun typed = run("/usr/bin/xdotool", arguments);
    if (typed.status != 0) throw std::runtime_error("cannot type into window " + window + ": " + typed.err);
}

BackgroundProgram::BackgroundProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                                     const RunOptions& options)
{
    pid_ = startProgram(program, arguments, options, capture_ / "out", capture_ / "err");
}

BackgroundProgram::~BackgroundProgram()
{
    if (!ended_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool BackgroundProgram::running()
{
    if (ended_) return false;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        ended_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return !ended_;
}

ProgramRun BackgroundProgram::wait()
{
    // A program that never ends (a dialog nobody answered) is killed after a
    // generous wait, so a broken test fails instead of hanging.
    if (!eventually([&] { return !running(); }, 1200)) {
        ::kill(pid_, SIGKILL);
        eventually([&] { return !running(); });
    }
    ProgramRun result;
    result.status = status_;
    result.out = readText(capture_ / "out");
    result.err = readText(capture_ / "err");
    return result;
}

}  // namespace kb::test
