#pragma once
// The OFX plug-in search path: an ordered list of folder texts, kept exactly
// as their sources wrote them (a leading "~" stays), without empty texts and
// without the same text twice.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kb {

struct SearchPath {
    std::vector<std::string> entries;          // in order
    std::unordered_set<std::string> included;  // the same texts, to find one in constant time
};

// Splits `text` at every ":" and appends each non-empty piece that the list
// does not hold yet, in order. Nothing is trimmed; texts are compared exactly.
void addEntries(SearchPath& list, std::string_view text);

// The list joined with ":", the form OFX_PLUGIN_PATH takes.
std::string joinSearchPath(const SearchPath& list);

// `text` without white space and line breaks at either end (Unicode
// separators and the control characters tab, line feed, vertical tab, form
// feed, carriage return and next line).
std::string trimWhitespace(std::string_view text);

}  // namespace kb
