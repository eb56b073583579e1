#include "SideBySide.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "KeptToProcessEnd.h"

namespace {

constexpr std::chrono::milliseconds kStopWatch{100};  // how soon a stop is noticed between the jobs' ends

// Which jobs have ended. Shared with the jobs' threads, which may outlive the wait.
struct Tally {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> ended;  // under mutex
};

void Ended(Tally& tally, std::size_t index)
{
    {
        const std::lock_guard<std::mutex> lock(tally.mutex);
        tally.ended[index] = true;
    }
    tally.changed.notify_all();
}

void RunCaught(SideBySideJob& job)
{
    try {
        job.Run();
    } catch (const std::exception& e) {
        job.fault = e.what();
    } catch (...) {
        job.fault = "an unknown fault";
    }
}

}  // namespace

std::vector<bool> RunSideBySide(std::vector<std::unique_ptr<SideBySideJob>>& jobs, const StopSignal* stop)
{
    const auto tally = std::make_shared<Tally>();
    tally->ended.assign(jobs.size(), false);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        SideBySideJob* job = jobs[i].get();
        try {
            std::thread([tally, job, i] {
                RunCaught(*job);
                Ended(*tally, i);
            }).detach();
        } catch (const std::system_error&) {
            RunCaught(*job);  // no thread could be made: the job runs here
            Ended(*tally, i);
        }
    }

    std::unique_lock<std::mutex> lock(tally->mutex);
    const auto allEnded = [&] { return std::all_of(tally->ended.begin(), tally->ended.end(), [](bool e) { return e; }); };
    std::optional<std::chrono::steady_clock::time_point> deadline;
    while (!allEnded()) {
        const auto now = std::chrono::steady_clock::now();
        if (!deadline && stop != nullptr && stop->IsSet())
            deadline = now + kStopGrace;
        if (deadline && now >= *deadline)
            break;
        tally->changed.wait_until(lock, deadline ? *deadline : now + kStopWatch, allEnded);
    }
    std::vector<bool> ended = tally->ended;
    lock.unlock();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!ended[i])
            KeptToProcessEnd::Keep(std::move(jobs[i]));  // its thread may still use it
    }
    return ended;
}
