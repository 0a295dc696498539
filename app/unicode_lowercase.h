#pragma once

#include <string>

namespace kb {

// Unicode lower case, code point by code point; invalid UTF-8 is lower-cased
// as far as it is valid and kept as it is from there on.
std::string unicodeLowercase(const std::string& text);

}  // namespace kb
