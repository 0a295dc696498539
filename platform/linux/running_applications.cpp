#include "platform/linux/running_applications.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

namespace kb {

namespace {

std::string lastComponent(std::string path)
{
    if (auto slash = path.rfind('/'); slash != std::string::npos) path.erase(0, slash + 1);
    return path;
}

std::optional<std::string> programName(const std::string& procDir)
{
    // The program file's own name; a program whose file was replaced since
    // it started reads "name (deleted)".
    std::string target(4096, '\0');
    ssize_t length = ::readlink((procDir + "/exe").c_str(), target.data(), target.size());
    if (length > 0) {
        target.resize(static_cast<std::size_t>(length));
        static constexpr std::string_view deleted = " (deleted)";
        if (target.ends_with(deleted)) target.erase(target.size() - deleted.size());
        return lastComponent(target);
    }
    // Without access to the program file, the name it was started under.
    std::ifstream cmdline(procDir + "/cmdline", std::ios::binary);
    std::string argv0;
    if (std::getline(cmdline, argv0, '\0') && !argv0.empty()) return lastComponent(argv0);
    return std::nullopt;
}

}  // namespace

std::vector<RunningApplication> linuxRunningApplications()
{
    std::vector<std::pair<long, RunningApplication>> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return {};
    uid_t me = ::getuid();
    while (dirent* entry = ::readdir(proc)) {
        std::string_view name = entry->d_name;
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        std::string dir = "/proc/" + std::string(name);
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;
        RunningApplication application;
        application.localizedName = programName(dir);
        found.emplace_back(std::stol(std::string(name)), std::move(application));
    }
    ::closedir(proc);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<RunningApplication> result;
    result.reserve(found.size());
    for (auto& item : found) result.push_back(std::move(item.second));
    return result;
}

}  // namespace kb
