#include "toolkit/ZorTimer.h"

#include "tests/toolkit/DebugFolderFixture.h"
#include "toolkit/CurrentTimeMs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace {

uint64_t gFakeNow = 0;
uint64_t FakeNow() {
    return gFakeNow;
}

class FakeClock : public ::testing::Test {
protected:
    void SetUp() override {
        gFakeNow = 1000000;
        SetCurrentTimeMsSource(&FakeNow);
    }
    void TearDown() override { SetCurrentTimeMsSource(nullptr); }
};

TEST(CurrentTimeMs, AgreesWithTheSystemClockAndNeverGoesBack) {
    const auto sys = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const uint64_t ours = GetCurrentTimeMs();
    EXPECT_NEAR(static_cast<double>(ours), static_cast<double>(sys), 5.0);
    uint64_t last = ours;
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = GetCurrentTimeMs();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST_F(FakeClock, ReplacesAndRestoresTheSource) {
    EXPECT_EQ(GetCurrentTimeMs(), 1000000u);
    gFakeNow = 1000123;
    EXPECT_EQ(GetCurrentTimeMs(), 1000123u);
    SetCurrentTimeMsSource(nullptr);
    EXPECT_GT(GetCurrentTimeMs(), 1500000000000u); // after 2017: the real clock
}

TEST_F(FakeClock, TimerAddsUpItsRunningSpans) {
    ZorTimer t;
    EXPECT_EQ(t.Get(), 0u);
    t.Start();
    gFakeNow += 10;
    t.Stop();
    gFakeNow += 1000; // stopped: not counted
    t.Start();
    gFakeNow += 5;
    t.Stop();
    EXPECT_EQ(t.Get(), 15u);
    t.Start();
    gFakeNow += 7;
    EXPECT_EQ(t.Get(), 22u) << "a running timer includes the time since Start";
    t.Stop();
    t.Start();
    gFakeNow -= 500; // the system clock was set back
    EXPECT_EQ(t.Get(), 22u);
    t.Stop();
    EXPECT_EQ(t.Get(), 22u);
    long counter = 9;
    t.Reset(&counter);
    EXPECT_EQ(t.Get(), 0u);
    EXPECT_EQ(counter, 0);
}

class TimerPrint : public DebugFolderFixture {
protected:
    void SetUp() override {
        DebugFolderFixture::SetUp();
        gFakeNow = 1000000;
        SetCurrentTimeMsSource(&FakeNow);
    }
    void TearDown() override {
        SetCurrentTimeMsSource(nullptr);
        DebugFolderFixture::TearDown();
    }
};

TEST_F(TimerPrint, PrintsEvery52ndCallAndRestarts) {
    ZorTimer t;
    long counter = 0;
    for (int call = 1; call <= 52; ++call) {
        t.Start();
        gFakeNow += 2;
        t.StopAndPrint(&counter, "timer.txt", "total %llu ms");
        if (call < 52) {
            EXPECT_EQ(Contents("timer.txt"), "") << "call " << call;
        }
    }
    EXPECT_EQ(Contents("timer.txt"), "total 104 ms\n");
    EXPECT_EQ(counter, 0);
    EXPECT_EQ(t.Get(), 0u);
}

} // namespace
