// Linux stand-in for the one use the installer makes of /usr/bin/ditto:
//   ditto --norsrc -x -k <archive> <folder>
// Anything else is refused. Errors end with "ditto: <reason>" on standard
// error and exit status 1.

#include "helpers/ditto/zip_extract.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string_view>

int main(int argc, char** argv)
{
    // The stand-in ends with the program that started it (macOS's own ditto
    // is left to finish, and its folder to a later run's sweep): a killed
    // installer's unpacking must not write on into a folder nobody will use.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) return 1;

    // Character conversions inside the archive library follow the locale;
    // a UTF-8 one keeps member names byte for byte (they are read as UTF-8).
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
    // The ZIP reader converts every member's DOS time through the local
    // time zone; without TZ the C library looks at /etc/localtime again for
    // each of them. Naming the file once keeps the zone and drops those
    // look-ups (the times are not restored anyway).
    ::setenv("TZ", ":/etc/localtime", 0);

    if (argc != 6 || std::string_view(argv[1]) != "--norsrc" || std::string_view(argv[2]) != "-x" ||
        std::string_view(argv[3]) != "-k") {
        std::cerr << "ditto: usage: ditto --norsrc -x -k <archive> <folder>\n";
        return 1;
    }
    try {
        kb::ditto::extractZip(argv[4], argv[5]);
    } catch (const std::exception& error) {
        std::cerr << "ditto: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
