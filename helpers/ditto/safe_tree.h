#pragma once
// Creating members below the destination folder without ever leaving it.
// Every step goes through an open folder descriptor and never follows a
// symbolic link, so a link that an earlier member created cannot carry a
// later member somewhere else, and nothing that already exists is replaced.

#include "platform/unique_fd.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kb::ditto {

// Opens the destination folder, creating it (and missing parents) first.
UniqueFd openDestination(const std::filesystem::path& destination);

// Each function takes the destination's descriptor and the member's
// components (see memberComponents); folders on the way that do not exist
// yet are created with mode 0755.

// Creates a folder, or accepts one that an earlier member's path created,
// and gives it `mode`.
void makeFolder(int root, const std::vector<std::string>& components, mode_t mode);

// Creates a new, empty regular file (mode 0600 until the caller sets its own)
// and returns it open for writing.
UniqueFd createFile(int root, const std::vector<std::string>& components);

// Creates a symbolic link holding `target` as its text, whatever it names.
void makeLink(int root, const std::vector<std::string>& components, const std::string& target);

}  // namespace kb::ditto
