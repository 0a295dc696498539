#pragma once
// The path of one archive member, judged before anything is created for it.

#include <string>
#include <string_view>
#include <vector>

namespace kb::ditto {

// Splits a member name at "/" into the components it is created under,
// dropping empty and "." pieces. Throws for a name that could reach outside
// the destination: an absolute name or any ".." piece. An empty result means
// the destination folder itself (a member named "./", for example).
std::vector<std::string> memberComponents(std::string_view name);

// The components joined with "/": the name a member is remembered by.
std::string joinedPath(const std::vector<std::string>& components);

// The joined path in double quotes, as messages name a member.
std::string quoted(const std::vector<std::string>& components);

}  // namespace kb::ditto
