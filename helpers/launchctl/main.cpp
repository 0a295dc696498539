// launchctl for a system without launchd: keeps the user's gui/<uid>
// domain (environment variables and loaded agents) in a file below $HOME
// and answers the subcommands the installer and its launch agent use.

#include "helpers/launchctl/verbs.h"
#include "platform/file_manager.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Agent files are read through the file manager, as the installer reads them.
    const std::unique_ptr<kb::FileManager> files = kb::makeSystemFileManager();
    kb::fm = files.get();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int status = kb::launchctl::runCommand(arguments, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
