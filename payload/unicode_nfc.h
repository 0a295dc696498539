#pragma once
// Unicode canonical equivalence for the verifier's comparisons.

#include <string>
#include <string_view>

namespace kb {

// The NFC form of `text` (utf8proc's canonical decomposition followed by
// canonical composition, as utf8proc_NFC, but for the whole length even with
// embedded NUL characters). Two texts are canonically equivalent exactly when
// their NFC forms are equal. Text that is not valid UTF-8 is returned as it
// is, so it stays equal only to itself.
std::string nfc(std::string_view text);

}  // namespace kb
