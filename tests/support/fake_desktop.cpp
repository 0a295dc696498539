#include "tests/support/fake_desktop.h"

#include <gtest/gtest.h>

namespace kb::test {

void FakeDesktop::activate()
{
    calls_.push_back("activate");
}

bool FakeDesktop::alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons)
{
    const bool installButton = buttons.size() == 2;
    calls_.push_back("alert: " + title);
    alerts_.push_back({title, body, installButton});
    if (answers_.empty()) {
        ADD_FAILURE() << "unexpected dialog \"" << title << "\"";
        return false;
    }
    bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::vector<RunningApplication> FakeDesktop::runningApplications()
{
    calls_.push_back("runningApplications");
    return running_;
}

}  // namespace kb::test
