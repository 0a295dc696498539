#include "platform/system_tools.h"

#include "platform/resource.h"

namespace kb {

std::filesystem::path systemTool(std::string_view name)
{
#ifdef __APPLE__
    if (name == "ditto") return "/usr/bin/ditto";
    return std::filesystem::path("/bin") / name;
#else
    return resource.parent_path() / "Helpers" / name;
#endif
}

}  // namespace kb
