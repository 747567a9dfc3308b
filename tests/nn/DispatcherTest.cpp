#include "nn/nn_dispatcher.h"

#include "tests/nn/NnTestSupport.h"
#include "tests/support/AllocCounter.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(DispatcherTest, ThreadsCountIsClampedToOneToSixteen) {
    const struct {
        unsigned requested;
        int threads;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {8, 8}, {16, 16}, {24, 16}};
    for (const auto& c : cases) {
        nn::Dispatcher pool(c.requested);
        EXPECT_EQ(pool.threadsCount(), c.threads) << c.requested;
        EXPECT_TRUE(pool.isValid());
    }
}

TEST(DispatcherTest, OneThreadRunsEachTaskAtOnceOnTheCaller) {
    const int before = testsupport::ThreadCount();
    nn::Dispatcher pool(1);
    EXPECT_EQ(testsupport::ThreadCount(), before);
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id ranOn;
    int runs = 0;
    pool.add([&] {
        ranOn = std::this_thread::get_id();
        ++runs;
    });
    EXPECT_EQ(runs, 1); // before add returned
    EXPECT_EQ(ranOn, caller);
    EXPECT_EQ(pool.pendingTasks(), 0u);
    pool.join();
}

TEST(DispatcherTest, WorkersRunTasksOffTheCallerThread) {
    nn::Dispatcher pool(4);
    const std::thread::id caller = std::this_thread::get_id();
    std::mutex m;
    std::set<std::thread::id> seen;
    for (int i = 0; i < 32; ++i)
        pool.add([&] {
            std::lock_guard<std::mutex> lock(m);
            seen.insert(std::this_thread::get_id());
        });
    pool.join();
    EXPECT_EQ(pool.pendingTasks(), 0u);
    EXPECT_FALSE(seen.empty());
    EXPECT_EQ(seen.count(caller), 0u);
}

struct SplitCase {
    int n, parts;
    std::vector<std::pair<int, int>> ranges;
};

TEST(DispatcherTest, PartRangesGiveTheRestToTheLastPart) {
    std::vector<std::pair<int, int>> hundredBy16, fiveBy8(8, {0, 0}), by16of136;
    for (int i = 0; i < 15; ++i) hundredBy16.push_back({6 * i, 6 * i + 6});
    hundredBy16.push_back({90, 100});
    for (int i = 0; i < 7; ++i) fiveBy8[size_t(i)] = {0, 0};
    fiveBy8[7] = {0, 5};
    for (int i = 0; i < 15; ++i) by16of136.push_back({8 * i, 8 * i + 8});
    by16of136.push_back({120, 136});
    const SplitCase cases[] = {
        {100, 16, hundredBy16}, {5, 8, fiveBy8}, {136, 16, by16of136}, {7, 1, {{0, 7}}}};
    for (const SplitCase& c : cases)
        for (int i = 0; i < c.parts; ++i) {
            int start = -1, end = -1;
            nn::Dispatcher::partRange(c.n, c.parts, i, start, end);
            EXPECT_EQ(std::make_pair(start, end), c.ranges[size_t(i)])
                << "n " << c.n << " parts " << c.parts << " part " << i;
        }
}

class DispatcherRunTest : public testing::TestWithParam<unsigned> {};

TEST_P(DispatcherRunTest, RunCoversEveryItemOnceAndSkipsEmptyParts) {
    nn::Dispatcher pool(GetParam());
    for (int n : {0, 1, 5, 100, 1000}) {
        std::vector<int> hits(size_t(n), 0);
        std::atomic<int> calls{0};
        pool.run(n, [&](int start, int end) {
            EXPECT_LT(start, end);
            ++calls;
            for (int i = start; i < end; ++i) ++hits[size_t(i)];
        });
        for (int i = 0; i < n; ++i) ASSERT_EQ(hits[size_t(i)], 1) << "n " << n << " item " << i;
        const int parts = pool.threadsCount();
        const int expected = n == 0 ? 0 : (n < parts ? 1 : parts);
        EXPECT_EQ(calls.load(), expected) << "n " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DispatcherRunTest, testing::Values(1u, 2u, 3u, 8u, 16u, 24u));

TEST(DispatcherTest, MoreTasksThanSlotsAllRun) {
    nn::Dispatcher pool(3);
    std::atomic<int> done{0};
    const int count = int(nn::Dispatcher::kQueueSlots) * 10;
    for (int i = 0; i < count; ++i) pool.add([&done] { ++done; });
    pool.join();
    EXPECT_EQ(done.load(), count);
}

TEST(DispatcherTest, DestroyingAPoolWithQueuedTasksRunsThem) {
    std::atomic<int> done{0};
    const int before = testsupport::ThreadCount();
    {
        nn::Dispatcher pool(2);
        for (int i = 0; i < 20; ++i)
            pool.add([&done] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++done;
            });
    }
    EXPECT_EQ(done.load(), 20);
    if (before > 0) {
        EXPECT_EQ(testsupport::ThreadCount(), before);
    }
}

TEST(DispatcherTest, SplitOperationsAllocateNothingAndStartNoThread) {
    nn::Dispatcher pool(8);
    std::vector<float> values(1000, 1.0f);
    auto body = [&values](int start, int end) {
        for (int i = start; i < end; ++i) values[size_t(i)] *= 2.0f;
    };
    pool.run(1000, body);
    const int threads = testsupport::ThreadCount();
    testsupport::AllocCounter counter;
    for (int round = 0; round < 50; ++round) pool.run(1000, body);
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_EQ(values[999], std::ldexp(1.0f, 51));
}

TEST(DispatcherTest, AFailedThreadStartIsReportedAndTasksRunInline) {
    // The first start, or one after some workers already run (they must be
    // stopped and joined, which ThreadSanitizer and the thread count check).
    for (int started : {0, 1, 3}) {
        const int before = testsupport::ThreadCount();
        nn::Dispatcher::failThreadStartsForTesting(1, started);
        std::unique_ptr<nn::Dispatcher> pool;
        const nntest::Messages messages =
            nntest::reportsOf([&] { pool.reset(new nn::Dispatcher(4)); });
        nn::Dispatcher::failThreadStartsForTesting(0);
        ASSERT_EQ(messages.size(), 1u) << started;
        EXPECT_EQ(messages[0].rfind("Worker thread start failed: ", 0), 0u) << messages[0];
        EXPECT_FALSE(pool->isValid()) << started;
        EXPECT_EQ(pool->threadsCount(), 4);
        if (before > 0) {
            EXPECT_EQ(testsupport::ThreadCount(), before) << started;
        }
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<int> hits(10, 0);
        pool->run(10, [&](int start, int end) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            for (int i = start; i < end; ++i) ++hits[size_t(i)];
        });
        pool->join();
        EXPECT_EQ(pool->pendingTasks(), 0u);
        EXPECT_EQ(hits, std::vector<int>(10, 1)) << started;
    }
}

} // namespace
