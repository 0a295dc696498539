#pragma once
// What a run tells the user it is doing while it works: which step it is in
// and, where the step's work is counted in bytes, how much of it is done. The
// interactive run shows it in a progress window, as one bar for the whole run;
// the other runs show nothing, which is what this base does.
//
// Every member is called by the run's own thread (in the interactive run the
// worker), never by the thread that serves the desktop.

#include <cstdint>

namespace kb {

// The steps of a run, in the order a run takes them.
enum class Step {
    digest,     // the archive's digest, counted in its bytes
    unpack,     // unpacking the archive, which reports nothing as it goes
    check,      // the unpacked files' digests, counted in the bytes the manifest lists
    install,    // the items put in place, counted in the bytes copied from the payload
    restore,    // a backup's items put back (a run of its own, without the steps above)
    uninstall,  // the items taken away (a run of its own, likewise)
    searchPath, // the launchd steps of the plug-in
};

class Progress {
public:
    virtual ~Progress() = default;
    // The run can be stopped from here on: its handling of signals and of
    // the user's request to stop is in place. A stop asked for earlier is
    // made now.
    virtual void stoppable() {}
    // A new step, and the amount of its work (0: as much as is known already,
    // or nothing to count).
    virtual void begin(Step /*step*/, std::uint64_t /*total*/ = 0) {}
    // `amount` more of the step's work is done.
    virtual void advance(std::uint64_t /*amount*/) {}
    // The run's last change is in place: from here on it can no longer be
    // stopped and undone by the user. Where a stop was accepted before this,
    // it throws Interrupted instead, so that the run rolls back.
    virtual void lastChangeDone() {}
};

}  // namespace kb
