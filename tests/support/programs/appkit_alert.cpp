// appkit_alert -- <title> <body> <button>...: one alert of the AppKit desktop (built against GNUstep); exits 0 when
// its first button answered it, 1 otherwise. The texts follow "--": GNUstep opens the arguments before the first one
// that starts with "-" as documents once the application has finished launching. A \xNN in a text is that byte, as
// GNUstep takes no command line that is not UTF-8.

#include "platform/desktop.h"

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> texts(argv + 2, argv + argc);
    for (std::string& text : texts)
        for (std::size_t at = 0; (at = text.find("\\x", at)) != std::string::npos; ++at)
            text.replace(at, 4, 1, static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)));
    const std::unique_ptr<kb::Desktop> desktop = kb::makeSystemDesktop();
    desktop->activate();
    return desktop->alert(texts[0], texts[1], std::vector<std::string>(texts.begin() + 2, texts.end())) == 0 ? 0 : 1;
}
