#pragma once
// For the system desktops: the records of what they showed and how promptly
// they served their events, for end-to-end tests and benchmarks.

#include <string>

namespace kb {

// Appends `text` to the file that the environment variable `variable` names
// (KESTRELBAY_DIALOG_LOG, KESTRELBAY_EVENT_GAP_LOG), if it names one.
void appendToLog(const char* variable, const std::string& text);

}  // namespace kb
