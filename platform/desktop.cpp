#include "platform/desktop.h"

#include <chrono>
#include <thread>

namespace kb {

void Desktop::watch(const WatchedWork& work)
{
    while (!work.finished()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace kb
