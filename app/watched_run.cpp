#include "app/watched_run.h"

#include "core/failure_text.h"
#include "core/messages.h"
#include "platform/desktop.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace kb {

namespace {

std::string_view lineOf(Step step)
{
    switch (step) {
    case Step::digest: return messages::progressDigest;
    case Step::unpack: return messages::progressUnpacking;
    case Step::check: return messages::progressChecking;
    case Step::install: return messages::progressInstalling;
    case Step::restore: return messages::progressRestoring;
    case Step::uninstall: return messages::progressUninstalling;
    case Step::searchPath: return messages::progressLaunchd;
    }
    return {};
}

// The run's progress as the window shows it, and the one place that decides
// whether the user's request to stop is accepted: told by the worker, read
// and asked by the desktop's thread, under one lock.
class WindowProgress final : public Progress {
public:
    void stoppable() override
    {
        const std::lock_guard lock(mutex_);
        stoppable_ = true;
        if (stopping_) requestStop();
    }
    void begin(Step step, std::uint64_t total) override
    {
        const std::lock_guard lock(mutex_);
        step_ = step, done_ = 0;
        if (step == Step::digest) archive_ = total;
        if (step == Step::check) payload_ = total;
    }
    void advance(std::uint64_t amount) override
    {
        const std::lock_guard lock(mutex_);
        done_ += amount;
    }
    void lastChangeDone() override
    {
        const std::lock_guard lock(mutex_);
        // A stop accepted before now is carried out: the run rolls back.
        if (stopping_) throw Interrupted();
        final_ = true;
    }

    // The user asked to stop: accepted unless the last change is in place.
    // The work is asked to stop at once, or as soon as it can be stopped.
    bool stop()
    {
        const std::lock_guard lock(mutex_);
        if (final_) return false;
        if (!stopping_ && stoppable_) requestStop();
        stopping_ = true;
        return true;
    }

    ProgressReport report() const
    {
        const std::lock_guard lock(mutex_);
        // One bar for the whole run that never moves back: the steps weighted
        // by their bytes (unpacking as the archive's, installing as the
        // payload's, each as the archive's until it is known), and full once
        // the last change is in place.
        shown_ = std::max(shown_, final_ ? 1.0 : std::min(fraction(), 0.99));
        if (stopping_) return {std::string(messages::progressStopping), shown_, false};
        if (final_) return {std::string(messages::progressFinishing), shown_, false};
        return {std::string(step_ ? lineOf(*step_) : messages::progressDigest), shown_, true};
    }

private:
    double fraction() const
    {
        if (!step_) return 0;
        const auto archive = static_cast<double>(archive_);
        const double payload = payload_ ? static_cast<double>(payload_) : archive;
        // A restore or an uninstall counts nothing: its bar fills when it is done.
        const std::array<double, 7> weights{archive, archive, payload, payload, 0, 0, 0};
        const auto current = static_cast<std::size_t>(*step_);
        double total = 0, done = 0;
        for (std::size_t i = 0; i < weights.size(); ++i) {
            total += weights[i];
            if (i < current) done += weights[i];
        }
        done += std::min(static_cast<double>(done_), weights[current]);
        return total > 0 ? done / total : 0;
    }

    mutable std::mutex mutex_;
    std::optional<Step> step_;
    std::uint64_t done_ = 0;     // of the current step
    std::uint64_t archive_ = 0;  // the archive's bytes
    std::uint64_t payload_ = 0;  // the bytes the manifest lists
    mutable double shown_ = 0;   // the fraction the window was last given
    bool stoppable_ = false;     // the run's interruption handling is in place
    bool stopping_ = false;      // a stop was accepted
    bool final_ = false;         // the last change is in place
};

// Ends the program for a run whose desktop went away: the failure's one line
// on standard error (the desktop's own reason when the run was stopped for it)
// and status 1, or status 0 after a run that was done.
[[noreturn]] void endWithoutDesktop(const std::exception_ptr& failure, DesktopGone why)
{
    if (!failure) std::_Exit(0);
    std::string text;
    try {
        std::rethrow_exception(failure);
    } catch (const Interrupted&) {
        text = why == DesktopGone::display ? messages::displayLost : messages::interrupted;
    } catch (...) {
        Path home;
        try {
            home = fm->homeDirectory();
        } catch (...) {
        }
        text = describeFailure(failure, home);
    }
    const std::string line = std::string(messages::failurePrefix) + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

nlohmann::json runWatched(const std::string& title, const std::function<nlohmann::json(Progress&)>& work)
{
    WindowProgress progress;
    nlohmann::json result;
    std::exception_ptr failure;
    std::atomic<bool> finished = false;
    std::thread worker([&] {
        try {
            result = work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    const auto abandon = [&](DesktopGone why) {
        progress.stop();
        worker.join();
        endWithoutDesktop(failure, why);
    };
    try {
        desktop->watch({title, std::string(messages::cancelButton), [&finished] { return finished.load(); },
                        [&progress] { return progress.report(); }, [&progress] { return progress.stop(); }, abandon});
    } catch (...) {
        // The desktop failed: the work stops as if the user had asked, and
        // its end is awaited before anything is reported.
        progress.stop();
        worker.join();
        throw;
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return result;
}

}  // namespace kb
