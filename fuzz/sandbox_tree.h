#pragma once
// Walking and removing what an archive left in the fuzz sandbox. Everything
// goes through open folder descriptors and never follows a link, so trees
// of any depth and names of any length are handled, whatever they hold.

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

namespace kb::fuzz {

// The names in the open folder, without "." and "..".
std::vector<std::string> entryNames(int folder);

// Calls `visit` with every item below the open folder (not the folder
// itself), as lstat sees it, folders before what they hold.
void walkTree(int folder, const std::function<void(const struct stat&)>& visit);

// Removes `name` inside the open folder `parent` and, for a folder,
// everything below it. A missing item is no error.
void removeTree(int parent, const std::string& name);

}  // namespace kb::fuzz
