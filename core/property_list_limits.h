#pragma once
// How large and how deep a property list may be before libplist is given it.
// libplist builds, frees and writes its values recursively, so a list nested
// a hundred thousand levels deep or so overflows the stack; a binary list whose
// objects refer to the same objects over and over unfolds into far more values
// than its bytes hold. The installer and the launchctl stand-in both check a
// launch agent's bytes with this before parsing them.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kb {

// A launch agent is a few hundred bytes; even one whose search path names
// thousands of folders stays far below this.
inline constexpr std::uint64_t maxPropertyListBytes = std::uint64_t{1} << 20;
// The deepest real agents (KeepAlive holding PathState holding paths) nest
// five levels, counting the <plist> element; libplist's recursion needs
// tens of thousands before the stack runs out.
inline constexpr std::size_t maxPropertyListDepth = 128;
// Values of a binary list after unfolding shared objects. Beyond 65,536
// objects each takes at least seven bytes (three for its offset, three for a
// reference to it, one for itself), so only a list that refers to the same
// objects many times over comes near this. (XML repeats what it shares, and
// the byte limit keeps it below this.)
inline constexpr std::size_t maxPropertyListValues = std::size_t{1} << 18;

// Whether a list keeps the limits, goes beyond one of them, or (a binary
// one) cannot be followed through its trailer, offsets and references.
enum class Limits { within, beyond, damaged };
Limits propertyListLimits(std::string_view bytes);

// Whether `bytes` keeps all three limits, read as libplist reads them: a
// binary list when they begin with "bplist00", XML otherwise. In XML every
// element counts as a level (comments, CDATA sections, processing
// instructions, declarations and quoted attribute values are passed over as
// libplist passes them over); a binary list is walked from its root object
// through the object references, iteratively. A binary list whose trailer,
// offsets or references cannot be followed is refused too.
bool withinPropertyListLimits(std::string_view bytes);

// Whether a binary list within those limits holds a text with a NUL, which
// libplist cuts short there (an XML list cannot hold one).
bool textHoldsNul(std::string_view bytes);

}  // namespace kb
