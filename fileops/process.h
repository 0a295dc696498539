#pragma once
// The one way the installer runs another program.

#include "platform/file_manager.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kb {

struct ProcessResult {
    int status = 0;
    std::string output;  // standard output and standard error together; empty when not valid UTF-8
    bool outputIsText = true;  // false when the output was not valid UTF-8 (and is given as empty)
};

// Runs `executable` with `arguments` (no shell), collects its output and
// waits for it. A program that cannot be started fails with the platform's
// error. With `required`, a non-zero status fails with the installer's
// "Ein Systemschritt ist fehlgeschlagen (...)" message naming the tool. With
// `shared`, the program holds that lock too while it runs (Launcher::run).
ProcessResult process(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                      bool required = true, const FileLock* shared = nullptr);

}  // namespace kb
