#pragma once
// What the user is told of a run that failed: one German text, whatever the
// error was.

#include <exception>
#include <filesystem>
#include <string>

namespace kb {

// The text the entry point reports for `failure`: an InstallError's own
// message; the text of a run stopped by the user or ended by a signal; and a
// German sentence (core/messages.h) for every other error: a part of the
// installer's own bundle that is missing or damaged (any error about a path
// in its Contents folder, and any JSON error, as the descriptor and the manifest
// are the only JSON read without a message of its own), a system error by
// its errno and the place it happened at (a path below `home` shown from
// "~"), running out of memory, and anything else with its own words after a
// German sentence.
std::string describeFailure(const std::exception_ptr& failure, const std::filesystem::path& home);

// `path` as the user is shown it: below `home` as "~/...".
std::string placeForUser(const std::filesystem::path& path, const std::filesystem::path& home);

}  // namespace kb
