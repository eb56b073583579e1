#include "SideBySide.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>

namespace {

struct Job : SideBySideJob {
    explicit Job(int kind) : kind(kind) {}
    void Run() override
    {
        if (kind == 1)
            throw std::bad_alloc();
        if (kind == 2)
            throw 42;
        ran = true;
    }
    const int kind;
    std::atomic<bool> ran{false};
};

// A job that throws on its own thread does not end the process: its fault is kept, and the
// jobs beside it run to their end.
TEST(SideBySide, AJobThatThrowsIsReportedAndTheOthersGoOn)
{
    std::vector<std::unique_ptr<SideBySideJob>> jobs;
    for (int kind : {0, 1, 2, 0})
        jobs.push_back(std::make_unique<Job>(kind));
    EXPECT_EQ(RunSideBySide(jobs, nullptr), std::vector<bool>(4, true));
    const auto job = [&](int i) { return static_cast<const Job*>(jobs[static_cast<std::size_t>(i)].get()); };
    EXPECT_TRUE(job(0)->ran && job(3)->ran);
    EXPECT_FALSE(job(0)->fault || job(3)->fault);
    EXPECT_EQ(job(1)->fault, std::string(std::bad_alloc().what()));
    EXPECT_EQ(job(2)->fault, std::string("an unknown fault"));
}

}  // namespace
