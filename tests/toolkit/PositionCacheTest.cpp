#include "toolkit/PositionCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace {

// A position that depends on i, n and h, so that a slot handed out for the
// wrong size shows.
struct Position {
    int n;
    double h;
    double operator()(int i) const { return std::sqrt(i * h + n); }
};

// Null when the cache gave nothing, else whether all n positions are right.
testing::AssertionResult HoldsPositions(const double* got, int n, double h) {
    if (!got) return testing::AssertionFailure() << "no positions for n " << n << " h " << h;
    const Position position{n, h};
    for (int i = 0; i < n; ++i)
        if (got[i] != position(i))
            return testing::AssertionFailure() << "n " << n << " h " << h << " index " << i;
    return testing::AssertionSuccess();
}

TEST(PositionCacheTest, KeepsTheFirstSizesAndTellsTheRestToComputeThemselves) {
    auto cache = std::make_unique<PositionCache>();
    struct Case {
        int n;
        double h;
        bool kept;
    } cases[] = {
        {1024, 43.06640625, true},
        {1024, std::nextafter(43.06640625, 44.0), true}, // one bit off: another size
        {1023, 43.06640625, true},
        {PositionCache::kCapacity, 1.0, true},
        {PositionCache::kCapacity + 1, 1.0, false}, // too long to keep
        {16, 2.0, false},                           // every slot taken
        {0, 1.0, false},
    };
    std::vector<const double*> first;
    for (const Case& c : cases) {
        const double* got = cache->Find(c.n, c.h, Position{c.n, c.h});
        if (c.kept) {
            EXPECT_TRUE(HoldsPositions(got, c.n, c.h));
        } else {
            EXPECT_EQ(got, nullptr) << "n " << c.n;
        }
        first.push_back(got);
    }
    // Found again: the same storage, untouched by the later sizes.
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        const double* again = cache->Find(c.n, c.h, Position{c.n, c.h});
        EXPECT_EQ(again, first[k]) << "n " << c.n;
        if (c.kept) {
            EXPECT_TRUE(HoldsPositions(again, c.n, c.h));
        }
    }
}

// Many callers at once on a fresh cache, more sizes than slots: whatever a
// caller is handed holds its own size's positions, and once the filling is
// over the kept sizes are found with theirs.
TEST(PositionCacheTest, CallersAtOnceGetTheirOwnSizesOnly) {
    for (int trial = 0; trial < 20; ++trial) {
        auto cache = std::make_unique<PositionCache>();
        std::atomic<int> ready{0};
        std::atomic<int> wrong{0};
        constexpr int kThreads = 8;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                ready.fetch_add(1);
                while (ready.load() < kThreads) {
                }
                for (int round = 0; round < 50; ++round) {
                    const int n = 256 + 64 * ((t + round) % 6);
                    const double h = 1.0 + (t + round) % 6;
                    const double* got = cache->Find(n, h, Position{n, h});
                    if (got && !HoldsPositions(got, n, h)) wrong.fetch_add(1);
                }
            });
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(wrong.load(), 0);
        int kept = 0;
        for (int s = 0; s < 6; ++s) {
            const int n = 256 + 64 * s;
            const double h = 1.0 + s;
            if (const double* got = cache->Find(n, h, Position{n, h})) {
                EXPECT_TRUE(HoldsPositions(got, n, h));
                ++kept;
            }
        }
        EXPECT_GE(kept, 1);
        EXPECT_LE(kept, PositionCache::kSlots);
    }
}

} // namespace
