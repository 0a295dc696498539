#pragma once
// The command line: the mode, the test folder given with --test-home and the
// backup folder given to --restore.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kb {

// What a run does: the dialogs of a double-click, verification alone, or one
// of the three runs that change a home.
enum class Mode { interactive, verifyPayload, install, restore, uninstall };

struct Invocation {
    Mode mode = Mode::interactive;
    std::optional<std::string> testHome;      // the folder given after --test-home
    std::optional<std::string> backupFolder;  // the folder given after --restore
};

// Decides the mode. Accepted: nothing; --verify-payload alone;
// --test-home <folder> alone (an installation into it); --restore [<folder>]
// or --uninstall, each alone or with --test-home <folder> before or after it.
// A folder after --restore is any argument but one starting with "--".
// Anything else fails with the usage message.
Invocation parseCommandLine(const std::vector<std::string>& arguments);

// The test folder as the installation's home: `argument` made absolute
// against the working directory and standardised. Refused unless it is
// absolute, is not the real home (links resolved on both sides), and holds
// the marker item directly.
std::filesystem::path checkedTestHome(const std::string& argument, const std::filesystem::path& realHome);

}  // namespace kb
