// Shows one dialog through the real GTK desktop and prints the answer:
//   show_alert <title> <body> [install]
// prints "true" or "false"; a failure goes to standard error with status 2.

#include "app/dialogs.h"
#include "platform/desktop.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "install")) {
        std::fputs("usage: show_alert <title> <body> [install]\n", stderr);
        return 2;
    }
    kb::GtkDesktop gtkDesktop;
    kb::ScopedDesktop guard(gtkDesktop);
    try {
        const bool answer = kb::alert(argv[1], argv[2], argc == 4);
        std::puts(answer ? "true" : "false");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    return 0;
}
