#pragma once
// A desktop that answers dialogs from a script and records what the
// installer asked of it, for testing the interactive flow without a screen.

#include "platform/desktop.h"

#include <deque>
#include <string>
#include <vector>

namespace kb::test {

struct ShownAlert {
    std::string title;
    std::string body;
    bool installButton = false;
    bool operator==(const ShownAlert&) const = default;
};

class FakeDesktop final : public Desktop {
public:
    // The answers the next dialogs get, in order. A dialog without a
    // scripted answer fails the test and is answered false.
    void answer(std::initializer_list<bool> answers) { answers_.insert(answers_.end(), answers); }
    void setRunningApplications(std::vector<RunningApplication> applications) { running_ = std::move(applications); }

    void activate() override;
    bool alert(const std::string& title, const std::string& body, const std::vector<std::string>& buttons) override;
    std::vector<RunningApplication> runningApplications() override;

    const std::vector<ShownAlert>& alerts() const { return alerts_; }
    // Every call in order: "activate", "runningApplications", "alert: <title>".
    const std::vector<std::string>& calls() const { return calls_; }
    std::size_t unusedAnswers() const { return answers_.size(); }

private:
    std::deque<bool> answers_;
    std::vector<RunningApplication> running_;
    std::vector<ShownAlert> alerts_;
    std::vector<std::string> calls_;
};

}  // namespace kb::test
