#pragma once
// What a run tells the user it is doing, step by step, while it works: the
// line of each step and, where the amount of its work is known, how much of
// it is done. The interactive run shows it in a progress window; the other
// runs show nothing, which is what this base does.

#include <cstdint>
#include <string_view>

namespace kb {

class Progress {
public:
    virtual ~Progress() = default;
    // A new step: its line and the amount of its work (0: not known).
    virtual void begin(std::string_view /*line*/, std::uint64_t /*total*/ = 0) {}
    // `amount` more of the step's work is done.
    virtual void advance(std::uint64_t /*amount*/) {}
    // The run's last change is in place: from here on it can no longer be
    // stopped and undone by the user.
    virtual void lastChangeDone() {}
};

}  // namespace kb
