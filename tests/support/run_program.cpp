#include "tests/support/run_program.h"

#include "tests/support/temp_dir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace kb::test {

ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const RunOptions& options)
{
    TempDir capture;
    const std::filesystem::path outPath = capture / "out";
    const std::filesystem::path errPath = capture / "err";

    std::vector<std::string> argvText{program.native()};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        auto equals = text.find('=');
        if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : options.environment) {
        if (value) {
            environment[name] = *value;
        } else {
            environment.erase(name);
        }
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : environment) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : envText) envp.push_back(text.data());
    envp.push_back(nullptr);

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
