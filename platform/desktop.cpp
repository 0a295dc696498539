#include "platform/desktop.h"

#include "platform/desktop_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace kb {

void appendToLog(const char* variable, const std::string& text)
{
    const char* path = std::getenv(variable);
    if (!path || !*path) return;
    if (FILE* log = std::fopen(path, "a")) {
        std::fwrite(text.data(), 1, text.size(), log);
        std::fclose(log);
    }
}

void Desktop::watch(const WatchedWork& work)
{
    while (!work.finished()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace kb
