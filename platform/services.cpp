// The process-wide services and values. The entry point fills them from the
// makers of the system it runs on; tests swap them with ScopedService.

#include "platform/desktop.h"
#include "platform/file_manager.h"
#include "platform/launcher.h"
#include "platform/resource.h"

namespace kb {

FileManager* fm = nullptr;
Launcher* launcher = nullptr;
Desktop* desktop = nullptr;
std::filesystem::path resource;

}  // namespace kb
