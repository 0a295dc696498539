// appkit_alert <title> <body> <button>...: one alert of the AppKit desktop (built against GNUstep); exits 0 when
// its first button answered it, 1 otherwise.

#include "platform/desktop.h"

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::unique_ptr<kb::Desktop> desktop = kb::makeSystemDesktop();
    desktop->activate();
    return desktop->alert(argv[1], argv[2], std::vector<std::string>(argv + 3, argv + argc)) ? 0 : 1;
}
