#pragma once
// The parts of a launch agent's property list (XML or binary) that loading
// it needs.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kb::launchctl {

struct Agent {
    std::string label;
    std::string program;                        // "Program", or else the first of the arguments
    std::vector<std::string> programArguments;  // the job's argv; [program] when the file gives none
    bool runAtLoad = false;
};

// The agent described by the file, or nothing when the file cannot be read
// (through `fm`) or is not an agent: beyond the limits of property lists, no
// dictionary, no "Label" text, neither "Program" nor a non-empty
// "ProgramArguments" list of texts.
std::optional<Agent> readAgent(const std::filesystem::path& file);

}  // namespace kb::launchctl
