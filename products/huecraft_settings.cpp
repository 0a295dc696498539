#include "products/huecraft_settings.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "fileops/file_helpers.h"
#include "platform/file_manager.h"

#include <cstddef>
#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

namespace kb {

namespace {

// Deeper nesting than this cannot be written back without risking the
// stack, and no settings file the script reads comes near it.
constexpr std::size_t maxDepth = 512;

// The most bytes a settings file may hold: the script writes a few hundred,
// which leaves ample room for whatever else a user keeps there.
constexpr std::uint64_t maxSettingsBytes = std::uint64_t{16} << 20;

using json = nlohmann::json;

// Builds the settings value from parser events, refusing what would not
// survive being written back: an integer too large for 64 bits arrives as
// a rounded double, and deep nesting would overflow the writer's stack.
// Duplicate keys keep the last value, as the script's own reader does.
class SettingsBuilder {
public:
    bool null() { return place(nullptr); }
    bool boolean(bool value) { return place(value); }
    bool number_integer(json::number_integer_t value) { return place(value); }
    bool number_unsigned(json::number_unsigned_t value) { return place(value); }
    bool number_float(json::number_float_t value, const json::string_t& text)
    {
        if (text.find_first_of(".eE") == json::string_t::npos) return false;
        return place(value);
    }
    bool string(json::string_t& value) { return place(std::move(value)); }
    bool binary(json::binary_t&) { return false; }
    bool start_object(std::size_t) { return open(json::object()); }
    bool key(json::string_t& name)
    {
        key_ = std::move(name);
        return true;
    }
    bool end_object()
    {
        open_.pop_back();
        return true;
    }
    bool start_array(std::size_t) { return open(json::array()); }
    bool end_array()
    {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

    json& root() { return root_; }

private:
    json* put(json value)
    {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        json& slot = parent[key_];
        slot = std::move(value);
        return &slot;
    }

    bool place(json value)
    {
        put(std::move(value));
        return true;
    }

    bool open(json value)
    {
        if (open_.size() >= maxDepth) return false;
        open_.push_back(put(std::move(value)));
        return true;
    }

    json root_;
    std::vector<json*> open_;  // the objects and arrays still open, innermost last
    json::string_t key_;
};

// Only a settings file that is not there means "no settings yet". One that
// cannot even be looked at may hold the user's keys, and starting from an
// empty map would replace them with the defaults.
bool noSettingsFile(const std::filesystem::path& file)
{
    try {
        return !itemAt(file);
    } catch (const std::system_error&) {
        throw InstallError(messages::settingsUnreadable);
    }
}

}  // namespace

json parseSettings(std::string_view text)
{
    SettingsBuilder builder;
    if (!json::sax_parse(text.begin(), text.end(), &builder) || !builder.root().is_object()) {
        throw InstallError(messages::settingsUnreadable);
    }
    return std::move(builder.root());
}

json readSettings(const std::filesystem::path& file)
{
    if (noSettingsFile(file)) return json::object();
    std::string text;
    try {
        text = readFile(file, maxSettingsBytes);
    } catch (const std::exception&) {
        throw InstallError(messages::settingsUnreadable);
    }
    return parseSettings(text);
}

void mergeSettings(json& settings, const ManagedSettings& managed)
{
    settings["engine_dir"] = managed.engineDir;
    settings["python"] = managed.python;
    settings["lut_dir"] = managed.lutDir;

    const std::pair<const char*, json> defaults[] = {
        {"use_ai", true},
        {"ai_backend", "api"},
        {"ai_provider", "vireo"},
        {"use_vision", true},
        {"node_index", std::int64_t{1}},
        {"strength", 0.65},
        {"method", "banded"},
        {"mode", "color"},
    };
    for (const auto& [key, value] : defaults) {
        if (!settings.contains(key)) settings[key] = value;
    }
}

}  // namespace kb
