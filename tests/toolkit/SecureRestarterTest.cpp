#include "toolkit/SecureRestarter.h"

#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<KIT_TypedBuf<double>> Channels(std::initializer_list<int> lengths, double value = 1.0) {
    std::vector<KIT_TypedBuf<double>> channels;
    for (int n : lengths) {
        KIT_TypedBuf<double> b;
        b.Resize(n);
        for (int i = 0; i < n; ++i) b[i] = value;
        channels.push_back(std::move(b));
    }
    return channels;
}

double Hann(int j, int n) {
    return 0.5 * (1 - std::cos(2 * kPi * j / (n - 1)));
}

// Checks that the first half of every channel of length n rose along the
// Hann window and the rest stayed at `value`.
void ExpectFadedIn(const KIT_TypedBuf<double>& b, int n, double value) {
    ASSERT_EQ(b.GetSize(), n);
    for (int j = 0; j < n; ++j) {
        const double want = j < n / 2 ? value * Hann(j, n) : value;
        ASSERT_DOUBLE_EQ(b[j], want) << "sample " << j << " of " << n;
    }
}

TEST(SecureRestarter, FadesInTheFirstHalfOfTheFirstBlock) {
    SecureRestarter r;
    auto channels = Channels({512, 512}, 0.5);
    r.Process(channels);
    EXPECT_EQ(channels[0][0], 0.0);
    EXPECT_DOUBLE_EQ(channels[1][255], 0.5 * 0.5 * (1 - std::cos(2 * kPi * 255 / 511)));
    for (auto& c : channels) ExpectFadedIn(c, 512, 0.5);
    EXPECT_FALSE(r.IsArmed());
}

TEST(SecureRestarter, OnlyTheArmedBlockIsTouched) {
    SecureRestarter r;
    auto first = Channels({64});
    r.Process(first);
    auto second = Channels({64});
    r.Process(second);
    for (int j = 0; j < 64; ++j) ASSERT_EQ(second[0][j], 1.0);
    r.Arm();
    auto third = Channels({64});
    r.Process(third);
    ExpectFadedIn(third[0], 64, 1.0);
}

TEST(SecureRestarter, DisarmRules) {
    SecureRestarter r;
    std::vector<KIT_TypedBuf<double>> none;
    r.Process(none);
    EXPECT_TRUE(r.IsArmed()) << "an empty list keeps the fade pending";
    auto one = Channels({1}, 0.7);
    r.Process(one);
    EXPECT_EQ(one[0][0], 0.7);
    EXPECT_FALSE(r.IsArmed()) << "a one-sample block still disarms";
    auto empty = Channels({0});
    r.Arm();
    r.Process(empty);
    EXPECT_FALSE(r.IsArmed());
}

TEST(SecureRestarter, ChannelsOfAnotherLengthAreLeftAlone) {
    SecureRestarter r;
    auto channels = Channels({128, 100, 128});
    r.Process(channels);
    ExpectFadedIn(channels[0], 128, 1.0);
    ExpectFadedIn(channels[2], 128, 1.0);
    for (int j = 0; j < 100; ++j) ASSERT_EQ(channels[1][j], 1.0);
}

TEST(SecureRestarter, RebuildsTheWindowWhenTheLengthChanges) {
    SecureRestarter r;
    for (int n : {512, 256, 511, 512}) {
        r.Arm();
        auto channels = Channels({n});
        r.Process(channels);
        ExpectFadedIn(channels[0], n, 1.0);
    }
}

// Prepared for the longest block, the restarter allocates nothing in its
// first Process, for that block or a shorter one, and fades exactly as an
// unprepared one; preparing neither arms nor disarms it.
TEST(SecureRestarter, PreparedForTheLongestBlockTheFirstFadeAllocatesNothing) {
    for (int first : {1024, 300, 2}) {
        SCOPED_TRACE(first);
        SecureRestarter prepared;
        prepared.Prepare(1024);
        EXPECT_TRUE(prepared.IsArmed());
        auto channels = Channels({first, first}, 0.5);
        auto longest = Channels({1024});
        testsupport::AllocCounter counter;
        prepared.Process(channels);
        prepared.Arm();
        prepared.Process(longest);
        EXPECT_EQ(counter.Count(), 0);
        for (auto& c : channels) ExpectFadedIn(c, first, 0.5);
        ExpectFadedIn(longest[0], 1024, 1.0);
        prepared.Prepare(512);
        EXPECT_FALSE(prepared.IsArmed());
    }
}

TEST(SecureRestarter, NoAllocationOnceTheLongestBlockWasSeen) {
    SecureRestarter r;
    auto big = Channels({1024, 1024});
    auto small = Channels({300, 300});
    r.Process(big);
    testsupport::AllocCounter counter;
    for (int i = 0; i < 3; ++i) {
        r.Arm();
        r.Process(small);
        r.Arm();
        r.Process(big);
    }
    EXPECT_EQ(counter.Count(), 0);
}

} // namespace
