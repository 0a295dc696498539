// Performs one file operation through the system file manager and prints its
// outcome, so tests can run it as an unprivileged user.
//   fm_probe copy <from> <to>
//   fm_probe remove <path>
//   fm_probe write <path> <text>

#include "platform/file_manager.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    const std::unique_ptr<kb::FileManager> files = kb::makeSystemFileManager();
    const std::string operation = argc > 1 ? argv[1] : "";
    try {
        if (operation == "copy" && argc == 4) {
            files->copyItem(argv[2], argv[3]);
            std::puts("copied");
        } else if (operation == "remove" && argc == 3) {
            files->removeItem(argv[2]);
            std::puts("removed");
        } else if (operation == "write" && argc == 4) {
            files->writeAtomically(argv[2], argv[3]);
            std::puts("written");
        } else {
            std::fputs("usage: fm_probe copy|remove|write <path> [<to>|<text>]\n", stderr);
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
