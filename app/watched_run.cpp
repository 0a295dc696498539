#include "app/watched_run.h"

#include "core/messages.h"
#include "platform/desktop.h"
#include "platform/interruption.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

namespace kb {

namespace {

// The run's progress, told by the worker and read by the desktop's thread.
class WindowProgress final : public Progress {
public:
    void begin(std::string_view line, std::uint64_t total) override
    {
        const std::lock_guard lock(mutex_);
        line_ = line, total_ = total, done_ = 0;
    }
    void advance(std::uint64_t amount) override
    {
        const std::lock_guard lock(mutex_);
        done_ = std::min(total_, done_ + amount);
    }
    void lastChangeDone() override
    {
        const std::lock_guard lock(mutex_);
        line_ = messages::progressFinishing, total_ = 0, final_ = true;
    }
    // The user asked to stop: from now on the run puts back what it changed.
    void stopping()
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }

    ProgressReport report() const
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return {std::string(messages::progressStopping), std::nullopt, false};
        std::optional<double> fraction;
        if (total_ > 0) fraction = static_cast<double>(done_) / static_cast<double>(total_);
        return {line_, fraction, !final_};
    }

private:
    mutable std::mutex mutex_;
    std::string line_;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    bool final_ = false;     // the last change is in place
    bool stopping_ = false;  // the user asked to stop
};

}  // namespace

nlohmann::json runWatched(const std::string& title, const std::function<nlohmann::json(Progress&)>& work)
{
    WindowProgress progress;
    nlohmann::json result;
    std::exception_ptr failure;
    std::atomic<bool> finished = false;
    const auto stop = [&progress] {
        progress.stopping();
        requestStop();
    };
    std::thread worker([&] {
        try {
            result = work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    try {
        desktop->watch({title, std::string(messages::cancelButton), [&finished] { return finished.load(); },
                        [&progress] { return progress.report(); }, stop});
    } catch (...) {
        // The desktop failed (its display went away): the work stops as if the
        // user had asked, and its end is awaited before anything is reported.
        stop();
        worker.join();
        throw;
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return result;
}

}  // namespace kb
