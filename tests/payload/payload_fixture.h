#pragma once
// Building payloads for the verifier's tests: a source tree below a folder,
// zipped with Info-ZIP (links stored as links), a manifest made from the tree
// by the manifest's rules, and the unpack tool of a built bundle.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>


#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kb::test {

// The ditto stand-in of the freshly built bundle (helpers/ditto); the tests
// use the real one, never a substitute.
inline std::filesystem::path builtDitto()
{
    const std::filesystem::path ditto = builtBundle() / "Contents/Helpers/ditto";
    if (!std::filesystem::exists(ditto)) {
        throw std::runtime_error("the built bundle lacks " + ditto.native() + ": build the \"ditto\" target first");
    }
    return ditto;
}

// A file object of the manifest for a file with `content`.
inline nlohmann::json fileEntry(std::string_view content)
{
    return {{"sha256", sha256Hex(std::string(content))}, {"size", content.size()}};
}

inline bool ignoredName(const std::string& name)
{
    return name.starts_with("._") || name == ".DS_Store";
}

// The manifest that describes the tree below `root` exactly: every regular
// file and every link, ignored names left out, keys as the bytes on disk.
inline nlohmann::json manifestOf(const std::filesystem::path& root)
{
    nlohmann::json manifest = {{"files", nlohmann::json::object()}, {"symlinks", nlohmann::json::object()}};
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(root))) return manifest;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (ignoredName(entry.path().filename().native())) continue;
        const std::string key = entry.path().lexically_relative(root).native();
        if (entry.is_symlink()) {
            manifest["symlinks"][key] = std::filesystem::read_symlink(entry.path()).native();
        } else if (entry.is_regular_file()) {
            manifest["files"][key] = fileEntry(readText(entry.path()));
        }
    }
    return manifest;
}

// Zips everything below `source` into `archive`, links kept as links
// (Info-ZIP's -y). An empty source gives an empty archive.
inline void zipTree(const std::filesystem::path& source, const std::filesystem::path& archive)
{
    std::filesystem::create_directories(source);
    if (std::filesystem::is_empty(source)) {
        // The end-of-central-directory record alone.
        writeFile(archive, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
        return;
    }
    std::filesystem::remove(archive);
    RunOptions options;
    options.workingDirectory = source;
    const ProgramRun run = runProgram("/usr/bin/zip", {"-y", "-r", "-q", archive.native(), "."}, options);
    if (run.status != 0) throw std::runtime_error("zip failed: " + run.out + run.err);
}

// Names of the entries directly in `folder` that begin with `prefix`.
inline std::vector<std::string> entriesStartingWith(const std::filesystem::path& folder, std::string_view prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().native().starts_with(prefix)) names.push_back(entry.path().filename().native());
    }
    return names;
}

}  // namespace kb::test
