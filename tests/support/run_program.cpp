#include "tests/support/run_program.h"

#include "tests/support/temp_dir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace kb::test {

namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (auto equals = text.find('='); equals != std::string::npos)
            environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            environment[name] = *value;
        } else {
            environment.erase(name);
        }
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : environment) result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

int startProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const RunOptions& options, const std::filesystem::path& outPath, const std::filesystem::path& errPath)
{
    std::vector<std::string> argvText{program.native()};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envText = environmentWith(options.environment);
    std::vector<char*> argv = pointersTo(argvText);
    std::vector<char*> envp = pointersTo(envText);

    pid_t child = ::fork();
    if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (child == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return child;
}

ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const RunOptions& options)
{
    TempDir capture;
    const std::filesystem::path outPath = capture / "out";
    const std::filesystem::path errPath = capture / "err";
    const pid_t child = startProgram(program, arguments, options, outPath, errPath);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    ProgramRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
}

std::filesystem::path builtBundle()
{
    return KB_BUNDLE_DIR;
}

std::filesystem::path builtBinaryDir()
{
    return KB_BINARY_DIR;
}

std::filesystem::path sourceDir()
{
    return KB_SOURCE_DIR;
}

std::filesystem::path copyBundle(const std::filesystem::path& destination)
{
    std::filesystem::create_directories(destination.parent_path());
    std::filesystem::copy(builtBundle(), destination,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    return bundleProgram(destination);
}

std::filesystem::path bundleProgram(const std::filesystem::path& bundle)
{
    return bundle / "Contents/MacOS/Installer";
}

std::filesystem::path bundleResources(const std::filesystem::path& bundle)
{
    return bundle / "Contents/Resources";
}

}  // namespace kb::test
