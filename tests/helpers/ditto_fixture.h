#pragma once
// Shared pieces of the ditto stand-in's tests: archives described member by
// member (written by make_zip.py), the tool run as the verifier runs it, and
// a sandbox whose every change outside the unpack folder is noticed.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kb::test {

inline std::filesystem::path dittoProgram()
{
    return builtBundle() / "Contents/Helpers/ditto";
}

// One member for make_zip.py; `mode` includes the file type.
inline nlohmann::json member(const std::string& name, const std::string& data, unsigned mode = 0100644)
{
    return {{"name", name}, {"data", data}, {"mode", mode}};
}

inline nlohmann::json folder(const std::string& name, unsigned mode = 040755)
{
    return {{"name", name}, {"mode", mode}};
}

inline nlohmann::json link(const std::string& name, const std::string& target)
{
    return {{"name", name}, {"data", target}, {"mode", 0120777}};
}

// Writes the archive `description` (see make_zip.py) describes.
inline void makeZipFrom(const std::filesystem::path& archive, const nlohmann::json& description)
{
    const std::filesystem::path spec = archive.native() + ".json";
    writeFile(spec, description.dump());
    ProgramRun run = runProgram("/usr/bin/python3", {(sourceDir() / "tests/helpers/make_zip.py").native(),
                                                     archive.native(), spec.native()});
    std::filesystem::remove(spec);
    if (run.status != 0) throw std::runtime_error("make_zip.py failed: " + run.err);
}

inline void makeZip(const std::filesystem::path& archive, const std::vector<nlohmann::json>& members)
{
    makeZipFrom(archive, nlohmann::json{{"members", members}});
}

inline RunOptions inFolder(const std::filesystem::path& folder)
{
    RunOptions options;
    options.workingDirectory = folder;
    return options;
}

inline RunOptions withCLocale()
{
    RunOptions options;
    options.environment = {{"LC_ALL", "C"}, {"LANG", "C"}, {"LC_CTYPE", std::nullopt}};
    return options;
}

inline ProgramRun unpack(const std::filesystem::path& archive, const std::filesystem::path& destination,
                         const RunOptions& options = {})
{
    return runProgram(dittoProgram(), {"--norsrc", "-x", "-k", archive.native(), destination.native()}, options);
}

// A picture of everything below `root` except the folder `skipped` and its
// contents (the unpack folder, which may hold gigabytes after a bomb).
inline TreeSnapshot snapshotExcept(const std::filesystem::path& root, const std::filesystem::path& skipped)
{
    TreeSnapshot result;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        if (it->path() == skipped) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string relative = it->path().lexically_relative(root).native();
        EntryState state;
        state.mode = modeOf(it->path());
        if (it->is_symlink()) {
            state.type = 'l';
            state.content = std::filesystem::read_symlink(it->path()).native();
        } else if (it->is_regular_file()) {
            state.type = 'f';
            state.content = sha256Hex(readText(it->path()));
        } else if (it->is_directory()) {
            state.type = 'd';
        } else {
            state.type = 'o';
        }
        result[relative] = state;
    }
    return result;
}

// A sandbox holding the archive, the unpack folder three levels down and,
// beside them, a folder "outside" with a file in it: everything a hostile
// archive might aim at, with room for "../" to land where it is seen.
class Sandbox {
public:
    Sandbox()
    {
        writeFile(outside() / "victim.txt", "original\n");
        std::filesystem::create_directories(destination());
        before_ = snapshotExcept(root(), destination());
    }

    std::filesystem::path root() const { return temp_ / "sandbox"; }
    std::filesystem::path outside() const { return root() / "outside"; }
    std::filesystem::path destination() const { return root() / "one/two/unpack"; }
    std::filesystem::path archive() const { return root() / "archive.zip"; }

    // Every change in the sandbox outside the unpack folder, the archive
    // written after the sandbox was made excepted.
    std::vector<std::string> changesOutside() const
    {
        std::vector<std::string> changes;
        for (const std::string& change : differences(before_, snapshotExcept(root(), destination()))) {
            if (change != "added archive.zip") changes.push_back(change);
        }
        return changes;
    }

private:
    TempDir temp_;
    TreeSnapshot before_;
};

}  // namespace kb::test
