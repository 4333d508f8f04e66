#include "Platform/BackgroundWorker.h"

#include <algorithm>
#include <future>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace pallix {
namespace {

TEST(BackgroundWorker, RunsJobsInOrderOnALoweredThreadAndFinishesThemBeforeGoing)
{
    std::vector<int> order;
    std::promise<std::pair<int, int>> seen;  // scheduling policy, nice value
    {
        BackgroundWorker worker(true);
        worker.post([&] {
            const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
            seen.set_value({::sched_getscheduler(0), ::getpriority(PRIO_PROCESS, thread)});
        });
        for (int i = 0; i < 50; ++i)
            worker.post([&order, i] { order.push_back(i); });
    }  // the destructor runs what was posted
    ASSERT_EQ(order.size(), 50u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    const auto [policy, nice] = seen.get_future().get();
    EXPECT_EQ(policy, SCHED_IDLE);
    EXPECT_EQ(nice, 19);
    EXPECT_EQ(::sched_getscheduler(0), SCHED_OTHER);  // the caller keeps its priority

    std::promise<int> plain;
    {
        BackgroundWorker worker(false);
        worker.post([&] { plain.set_value(::sched_getscheduler(0)); });
    }
    EXPECT_EQ(plain.get_future().get(), SCHED_OTHER);
}

} // namespace
} // namespace pallix
