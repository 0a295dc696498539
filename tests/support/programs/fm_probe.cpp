// Performs one file operation through the real file manager and prints its
// outcome, so tests can run it as an unprivileged user.
//   fm_probe copy <from> <to>
//   fm_probe remove <path>
//   fm_probe write <path> <text>
//   fm_probe writable-ancestor <path>
//   fm_probe exists <path>

#include "fileops/file_helpers.h"
#include "platform/posix_file_manager.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    kb::PosixFileManager fileManager;
    kb::ScopedFileManager guard(fileManager);
    const std::string operation = argc > 1 ? argv[1] : "";
    try {
        if (operation == "copy" && argc == 4) {
            kb::fm->copyItem(argv[2], argv[3]);
            std::puts("copied");
        } else if (operation == "remove" && argc == 3) {
            kb::fm->removeItem(argv[2]);
            std::puts("removed");
        } else if (operation == "write" && argc == 4) {
            kb::fm->writeAtomically(argv[2], argv[3]);
            std::puts("written");
        } else if (operation == "exists" && argc == 3) {
            std::puts(kb::exists(argv[2]) ? "true" : "false");
        } else if (operation == "writable-ancestor" && argc == 3) {
            std::puts(kb::writableAncestor(argv[2]) ? "true" : "false");
        } else {
            std::fputs("usage: fm_probe copy|remove|write|writable-ancestor|exists <path> [text]\n", stderr);
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
