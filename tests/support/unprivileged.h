#pragma once
// Running a helper as the unprivileged user "nobody", for the cases where
// permission bits must really stop a process (the tests run as root).

#include "tests/support/run_program.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kb::test {

// The small programs built beside the tests (show_alert, fm_probe, ...).
std::filesystem::path testProgram(const std::string& name);

// Hands `path` and everything below it to nobody:nogroup (links themselves,
// never their targets) and lets everyone search the folders above it up to
// `top`, so nobody can reach it.
void giveToNobody(const std::filesystem::path& path, const std::filesystem::path& top);

// Runs `program` as nobody:nogroup without supplementary groups.
ProgramRun runUnprivileged(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const RunOptions& options = {});

}  // namespace kb::test
