#pragma once
// Running the real installer (or another program) as a user would, and
// copies of the installer bundle to run it from.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kb::test {

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

struct RunOptions {
    std::filesystem::path workingDirectory;                       // empty: the test's own
    std::map<std::string, std::optional<std::string>> environment;  // nullopt removes a variable
};

// Starts `program` with `arguments`, standard input from /dev/null and its
// two output streams into the files `out` and `err`; returns its process id.
int startProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const RunOptions& options, const std::filesystem::path& out, const std::filesystem::path& err);

// Runs `program` with `arguments`, no standard input, and waits for it.
ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const RunOptions& options = {});

// The freshly built empty installer bundle.
std::filesystem::path builtBundle();
std::filesystem::path builtBinaryDir();
std::filesystem::path sourceDir();

// Copies the built bundle to `destination` (which must not exist) and returns
// the path of its program.
std::filesystem::path copyBundle(const std::filesystem::path& destination);

// The program and resource folder inside a bundle.
std::filesystem::path bundleProgram(const std::filesystem::path& bundle);
std::filesystem::path bundleResources(const std::filesystem::path& bundle);

}  // namespace kb::test
