#include "helpers/launchctl/domain_state.h"

#include "core/unicode.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

namespace kb::launchctl {

namespace {

std::filesystem::path homeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    throw std::runtime_error("no home folder (HOME is not set)");
}

std::map<std::string, std::string> textMap(const nlohmann::json& json, const char* key)
{
    std::map<std::string, std::string> result;
    if (!json.contains(key)) return result;
    const nlohmann::json& member = json.at(key);
    if (!member.is_object()) throw std::runtime_error(std::string("\"") + key + "\" is not an object");
    for (const auto& [name, value] : member.items()) {
        // A value that is not UTF-8 (launchd holds any bytes) is kept as the list of its bytes.
        if (value.is_array()) {
            for (const nlohmann::json& byte : value) result[name] += static_cast<char>(byte.get<unsigned char>());
            continue;
        }
        if (!value.is_string()) throw std::runtime_error(std::string("\"") + key + "\" holds a value that is not a string");
        result[name] = value.get<std::string>();
    }
    return result;
}

// The values as JSON: texts, or the list of its bytes for a value that is not UTF-8.
nlohmann::json jsonOf(const std::map<std::string, std::string>& values)
{
    nlohmann::json json = nlohmann::json::object();
    for (const auto& [name, value] : values) {
        json[name] = kb::validUtf8(value) ? nlohmann::json(value) : nlohmann::json(std::vector<unsigned char>(value.begin(), value.end()));
    }
    return json;
}

void writeAll(int fd, const std::string& data, const std::filesystem::path& path)
{
    std::size_t written = 0;
    while (written < data.size()) {
        ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), path.native());
        }
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::filesystem::path stateFile(unsigned uid)
{
    return homeFolder() / ".local/state/kestrelbay-launchd" / ("gui-" + std::to_string(uid) + ".json");
}

DomainState loadState(const std::filesystem::path& file)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        throw std::system_error(errno, std::generic_category(), file.native());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error(file.native() + ": not a regular file");
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), file.native());
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(file.native() + ": " + error.what());
    }
    if (!json.is_object()) throw std::runtime_error(file.native() + ": not a JSON object");
    try {
        DomainState state{textMap(json, "environment"), textMap(json, "loaded"), std::nullopt};
        if (json.contains("lastBootout")) {
            if (!json["lastBootout"].is_number()) throw std::runtime_error("\"lastBootout\" is not a number");
            state.lastBootout = json["lastBootout"].get<double>();
        }
        return state;
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(file.native() + ": " + error.what());
    }
}

void saveState(const std::filesystem::path& file, const DomainState& state)
{
    std::filesystem::path folder = file.parent_path();
    std::filesystem::create_directories(folder);
    nlohmann::json json = {{"environment", jsonOf(state.environment)}, {"loaded", jsonOf(state.loaded)}};
    if (state.lastBootout) json["lastBootout"] = *state.lastBootout;
    std::string data = json.dump(2) + "\n";

    std::string scratch = (folder / ("." + file.filename().native() + ".XXXXXX")).native();
    int fd = ::mkstemp(scratch.data());
    if (fd < 0) throw std::system_error(errno, std::generic_category(), scratch);
    try {
        writeAll(fd, data, scratch);
        if (::fsync(fd) != 0) throw std::system_error(errno, std::generic_category(), scratch);
        if (::close(fd) != 0) {
            fd = -1;
            throw std::system_error(errno, std::generic_category(), scratch);
        }
        fd = -1;
        if (::rename(scratch.c_str(), file.c_str()) != 0) throw std::system_error(errno, std::generic_category(), file.native());
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(scratch.c_str());
        throw;
    }
}

DomainLock::DomainLock(const std::filesystem::path& file)
{
    const std::filesystem::path folder = file.parent_path();
    std::filesystem::create_directories(folder);
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), folder.native());
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd_);
        throw std::system_error(error, std::generic_category(), folder.native());
    }
}

DomainLock::~DomainLock()
{
    ::close(fd_);
}

}  // namespace kb::launchctl
