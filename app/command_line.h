#pragma once
// The command line: the mode and, for --test-home, the checked test folder.

#include <filesystem>
#include <string>
#include <vector>

namespace kb {

enum class Mode { interactive, verifyPayload, testHome };

struct Invocation {
    Mode mode = Mode::interactive;
    std::string testHomeArgument;  // the folder given after --test-home
};

// Decides the mode; anything but the three accepted forms fails with the
// usage message.
Invocation parseCommandLine(const std::vector<std::string>& arguments);

// The test folder as the installation's home: `argument` made absolute
// against the working directory and standardised. Refused unless it is
// absolute, is not the real home (links resolved on both sides), and holds
// the marker item directly.
std::filesystem::path checkedTestHome(const std::string& argument, const std::filesystem::path& realHome);

}  // namespace kb
