#pragma once
// Property lists as the installer, the launchctl stand-in and the vendor tool
// use them: a dictionary at the root, read the way launchd reads an agent
// (binary, or XML in UTF-8 with or without a byte-order mark, or in UTF-16
// with one) and written as XML. The system's own reader does the reading
// (libplist on Linux, Foundation on macOS), and is given a list only once it
// keeps the limits of core/property_list_limits.h.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

class PropertyList {
public:
    // An empty dictionary.
    PropertyList();
    ~PropertyList();
    PropertyList(PropertyList&&) noexcept;
    PropertyList& operator=(PropertyList&&) noexcept;

    // The dictionary at the root of `bytes`; nothing when they exceed the
    // limits, cannot be read, or hold anything else at their root.
    static std::optional<PropertyList> read(std::string_view bytes);

    // Whether the dictionary holds `key`, with a value of any kind.
    bool has(std::string_view key) const;
    // The value of `key` when it is a string.
    std::optional<std::string> text(std::string_view key) const;
    // The value of `key` when it is an array of strings, every one of them.
    std::optional<std::vector<std::string>> texts(std::string_view key) const;
    // The value of `key` when it is a Boolean.
    std::optional<bool> flag(std::string_view key) const;

    void setText(std::string_view key, const std::string& value);
    void setTexts(std::string_view key, const std::vector<std::string>& values);
    void setFlag(std::string_view key, bool value);

    // The list as XML, format version 1.0; std::runtime_error where the
    // writer cannot write it.
    std::string xml() const;

    // The reader's own dictionary, defined beside it.
    struct Node;

private:
    explicit PropertyList(std::unique_ptr<Node> node);
    // What the reader makes of a list within the limits: `text` is the list in
    // UTF-8 (a binary one as it was), `original` its bytes as they were read.
    static std::optional<PropertyList> parse(std::string_view text, std::string_view original);

    std::unique_ptr<Node> node_;
};

// Whether `bytes`, in the form the reader is given them (see read), go beyond
// the size, depth or count that core/property_list_limits.h allows: a list
// that no reader is given, though it may well be one (a damaged list is not).
bool beyondReadingLimits(std::string_view bytes);

// Whether `bytes` hold text that no XML can carry as it is: an XML character
// reference to a character XML 1.0 does not allow (a NUL, a control character
// but tab, line feed and carriage return, half of a surrogate pair, U+FFFE,
// U+FFFF, or beyond U+10FFFF), or a NUL in a binary list's text.
bool holdsTextXmlForbids(std::string_view bytes);

}  // namespace kb
