#pragma once
// The "geoweave" recipe: the OFX plug-in bundle in the per-user OFX folder,
// and a launch agent that keeps that folder on OFX_PLUGIN_PATH.

#include "products/recipe.h"
#include "products/search_path.h"

#include <filesystem>
#include <memory>
#include <string>

namespace kb {

std::unique_ptr<Recipe> makeGeoweaveRecipe();

// The folders already on the search path as launchd, the installer's own
// environment and an earlier agent file at `agentFile` name them. Outside
// test mode it also keeps launchd's value in `launchdValue` and refuses a
// system-wide copy of the plug-in. Changes nothing below home.
SearchPath collectSearchPath(const RunContext& ctx, const std::filesystem::path& agentFile, std::string& launchdValue);

// Refuses when a search-path folder other than the per-user OFX folder
// (after following links) already holds the plug-in.
void checkOtherCopies(const SearchPath& searchPath, const std::filesystem::path& home,
                      const std::filesystem::path& destination);

}  // namespace kb
