#pragma once
// The Unicode rules every part of the installer and the vendor tool share.

#include <string>
#include <string_view>

namespace kb {

// Whether `text` is valid UTF-8 (JSON holds nothing else).
bool validUtf8(std::string_view text);

// The NFC form of `text` (utf8proc's canonical decomposition followed by
// canonical composition, as utf8proc_NFC, but for the whole length even with
// embedded NUL characters). Two texts are canonically equivalent exactly when
// their NFC forms are equal. Text that is not valid UTF-8 is returned as it
// is, so it stays equal only to itself.
std::string nfc(std::string_view text);

// Whether an XML 1.0 document can hold `text` as it stands: valid UTF-8 of
// characters XML allows, and no carriage return, which XML readers turn into
// a line feed. Control characters but tab and line feed are not allowed.
bool fitsXmlText(std::string_view text);

// Unicode lower case, code point by code point; invalid UTF-8 is lower-cased
// as far as it is valid and kept as it is from there on.
std::string unicodeLowercase(const std::string& text);

}  // namespace kb
