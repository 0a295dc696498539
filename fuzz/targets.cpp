// The fuzz targets: each program gives its inputs to the function KB_FUZZ_TARGET names; a broken property traps.

#include "core/install_error.h"
#include "core/messages.h"
#include "core/product.h"
#include "core/unicode.h"
#include "fileops/file_helpers.h"
#include "helpers/ditto/zip_extract.h"
#include "payload/manifest.h"
#include "products/huecraft_settings.h"
#include "products/launch_agent.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <clocale>
#include <fstream>
#include <set>

#define KB_FUZZ_CHECK(property) ((property) ? void() : __builtin_trap())

namespace kb::fuzz {

using nlohmann::json;

// decodeProduct raises only the JSON library's errors or its bad-name message, keeping members exactly as the text has.
void product(std::string_view text)
{
    try {
        const json encoded = json::parse(kb::encodeProduct(kb::decodeProduct(text)));
        for (const auto& [key, value] : encoded.items()) KB_FUZZ_CHECK(json::parse(text).at(key) == value);
    } catch (const json::exception&) {  // refused
    } catch (const kb::InstallError& error) {
        KB_FUZZ_CHECK(error.message() == kb::messages::invalidProductName);
    }
}

// What the streaming manifest decoder gives, the document decoding gives too, which raises only the library's errors.
void manifest(std::string_view text)
{
    const std::optional<kb::PayloadManifest> streamed = kb::decodeManifestStreaming(text);
    try {
        KB_FUZZ_CHECK(json::parse(text).get<kb::PayloadManifest>() == streamed || !streamed);
    } catch (const json::exception&) {
        KB_FUZZ_CHECK(!streamed);
    }
}

// parseSettings refuses a text only with its one message. Merging what it accepts writes the managed keys and keeps
// every other key and value exactly; the file written reads back, and merging again writes it unchanged.
void settingsMerge(std::string_view text)
{
    json merged;
    try {
        merged = kb::parseSettings(text);
    } catch (const kb::InstallError& error) {
        return KB_FUZZ_CHECK(error.message() == kb::messages::settingsUnreadable);
    }
    const kb::ManagedSettings managed{"/home/fuzz/Runtime", "/home/fuzz/Runtime/python", "/home/fuzz/LUT"};
    json kept = merged;
    kept.update(json{{"engine_dir", managed.engineDir}, {"python", managed.python}, {"lut_dir", managed.lutDir}});
    kb::mergeSettings(merged, managed);
    for (const auto& [key, value] : kept.items()) KB_FUZZ_CHECK(merged[key].dump() == value.dump());
    json reread = kb::parseSettings(kb::jsonData(merged));
    kb::mergeSettings(reread, managed);
    KB_FUZZ_CHECK(kb::jsonData(reread) == kb::jsonData(merged));
}

// A search path read from an earlier installation's agent file survives being written into a new agent and read back,
// whenever the installer would write it (a path XML cannot carry is refused before, as is a NUL in a binary list).
void agentFile(std::string_view text)
{
    std::optional<std::string> path;
    try {
        path = kb::agentSearchPath(text);
    } catch (const kb::InstallError&) {
        return;
    }
    if (!path || !kb::fitsXmlText(*path)) return;
    KB_FUZZ_CHECK(kb::agentSearchPath(kb::launchAgentPropertyList("de.geoweave.ofxpath", *path)) == path);
}

std::string base;  // the ditto target's folder, holding its sandbox "s"

// Checks every item in the open folder (at `path` below base) and removes it, through descriptors and never following
// a link, so that a tree of any depth goes; adds the items outside s/dest to `outside` with their type and content.
void sweep(int folder, const std::string& path, std::set<std::string>& outside)
{
    DIR* list = ::fdopendir(folder);
    for (struct stat info {}; const dirent* entry = ::readdir(list);) {
        const std::string name = entry->d_name, item = path + "/" + name;
        if (name == "." || name == "..") continue;
        KB_FUZZ_CHECK(::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0);
        const mode_t type = info.st_mode & S_IFMT;
        KB_FUZZ_CHECK(type == S_IFDIR || ((type == S_IFREG || type == S_IFLNK) && info.st_nlink == 1));
        KB_FUZZ_CHECK(type == S_IFLNK || (info.st_mode & 07000) == 0);
        if (!(item + "/").starts_with("/s/dest/")) {
            std::ifstream file(type == S_IFREG ? base + item : "", std::ios::binary);
            outside.insert(item + " " + std::to_string(type) + " " + std::string(std::istreambuf_iterator(file), {}));
        }
        if (type == S_IFDIR) sweep(::openat(folder, name.c_str(), O_DIRECTORY | O_NOFOLLOW), item, outside);
        KB_FUZZ_CHECK(item == "/s" || ::unlinkat(folder, name.c_str(), type == S_IFDIR ? AT_REMOVEDIR : 0) == 0);
    }
    ::closedir(list);
}

// The ditto stand-in's unpacker on any archive, unpacked into s/dest: whether or not it is refused, nothing outside
// dest appears or changes, and nothing is a hard link, a device, a FIFO, a socket or has a set-id or sticky bit.
void ditto(std::string_view archive)
{
    if (base.empty()) {
        std::setlocale(LC_CTYPE, "C.UTF-8");  // as the ditto program: member names stay byte for byte
        base = (std::filesystem::temp_directory_path() / "kb-fuzz-ditto-XXXXXX").native();
        KB_FUZZ_CHECK(::mkdtemp(base.data()) && ::mkdir((base + "/s").c_str(), 0700) == 0);
        std::atexit([] { ::rmdir((base + "/s").c_str()), ::rmdir(base.c_str()); });
    }
    std::ofstream(base + "/s/archive.zip", std::ios::binary) << archive;
    try {
        kb::ditto::extractZip(base + "/s/archive.zip", base + "/s/dest");
    } catch (const std::exception&) {  // refused: what counts is what it leaves behind
    }
    std::set<std::string> outside;
    sweep(::open(base.c_str(), O_RDONLY | O_DIRECTORY), "", outside);
    KB_FUZZ_CHECK(outside == std::set<std::string>({"/s 16384 ", "/s/archive.zip 32768 " + std::string(archive)}));
}

}  // namespace kb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kb::fuzz::KB_FUZZ_TARGET(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
