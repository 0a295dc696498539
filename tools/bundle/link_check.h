#pragma once
// Whether a link in the payload will still lead into the payload once it is
// unpacked on another machine.

#include <filesystem>
#include <string>

namespace kb::bundle {

// Throws std::runtime_error unless the link at `relative` below `root`, with
// the stored text `target`, resolves to something strictly inside the root.
// The resolution is done on the names alone, following links inside the
// payload on the way, so that it cannot depend on what lies outside the
// payload on this machine or the user's: an absolute target, a ".." that
// climbs above the root, a link to the root itself and a loop of links are
// all refused. A target inside the root that does not exist is accepted.
void requireLinkInside(const std::filesystem::path& root, const std::string& relative, const std::string& target);

}  // namespace kb::bundle
