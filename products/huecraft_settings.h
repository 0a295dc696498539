#pragma once
// The colour script's own settings file (~/.huecraft_vireo.json): reading it
// without losing anything and adding the installer's keys to it.

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kb {

// Parses settings text. Throws InstallError (settings unreadable) unless the
// text is one JSON object whose every value can be written back unchanged:
// integers beyond 64 bits and absurdly deep nesting are refused.
nlohmann::json parseSettings(std::string_view text);

// The settings at `file`, read through a final link; an empty object when
// nothing is there. Any failure to read or parse (a FIFO or a device in its
// place, more than 16 MiB) throws InstallError.
nlohmann::json readSettings(const std::filesystem::path& file);

// The values the installer always writes.
struct ManagedSettings {
    std::string engineDir;
    std::string python;
    std::string lutDir;
};

// Rewrites the three managed paths and adds each default that is absent
// (a key holding null counts as present); every other key stays as it is.
void mergeSettings(nlohmann::json& settings, const ManagedSettings& managed);

}  // namespace kb
