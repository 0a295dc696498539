#pragma once

#include <string>

namespace kb {

// A fresh random (version 4) UUID in its canonical text form: 36 characters,
// upper-case hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined by "-".
std::string randomUUID();

}  // namespace kb
