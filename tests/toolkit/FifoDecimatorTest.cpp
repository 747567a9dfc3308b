#include "toolkit/FifoDecimator.h"

#include "tests/support/AllocCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

KIT_TypedBuf<double> Block(const std::vector<double>& v) {
    KIT_TypedBuf<double> b;
    b.Set(v.data(), static_cast<int>(v.size()));
    return b;
}

std::vector<double> Values(const FifoDecimator& d) {
    KIT_TypedBuf<double> out;
    d.GetValues(&out);
    return std::vector<double>(out.Get(), out.Get() + out.GetSize());
}

TEST(FifoDecimator, KeepsTheNewestValuesInOrder) {
    for (bool minMax : {false, true}) {
        FifoDecimator d(minMax);
        d.SetParams(4, 1.0);
        d.AddValues(Block({1, 2, 3}));
        EXPECT_EQ(Values(d), (std::vector<double>{1, 2, 3}));
        d.AddValues(Block({4, 5, 6}));
        EXPECT_EQ(Values(d), (std::vector<double>{3, 4, 5, 6})) << minMax;
        d.AddValues(Block({}));
        EXPECT_EQ(Values(d), (std::vector<double>{3, 4, 5, 6})) << "empty block adds nothing";
    }
}

TEST(FifoDecimator, SizedConstructorStartsWithZeros) {
    FifoDecimator d(3, 1.0, false);
    EXPECT_EQ(Values(d), (std::vector<double>{0, 0, 0}));
    d.AddValues(Block({7}));
    EXPECT_EQ(Values(d), (std::vector<double>{0, 0, 7}));
}

TEST(FifoDecimator, MaximumZeroKeepsNothing) {
    FifoDecimator d(true);
    d.AddValues(Block({1, 2, 3}));
    EXPECT_TRUE(Values(d).empty());
    d.SetParams(8, 1.0);
    d.AddValues(Block({1, 2}));
    d.SetParams(0, 1.0);
    d.AddValues(Block({3}));
    EXPECT_TRUE(Values(d).empty());
}

TEST(FifoDecimator, ResetZeroesAndSmallerMaximumAppliesAtNextAdd) {
    FifoDecimator d(false);
    d.SetParams(4, 1.0);
    d.AddValues(Block({1, 2, 3, 4}));
    d.Reset();
    EXPECT_EQ(Values(d), (std::vector<double>{0, 0, 0, 0}));
    d.AddValues(Block({5, 6}));
    d.SetParams(2, 1.0);
    EXPECT_EQ(Values(d).size(), 4u);
    d.AddValues(Block({7}));
    EXPECT_EQ(Values(d), (std::vector<double>{6, 7}));
}

TEST(FifoDecimator, DecimatesBeforeAppending) {
    FifoDecimator d(false);
    d.SetParams(100, 0.25);
    d.AddValues(Block({0.1, -0.9, 0.2, 0.3, 0.5, 0.1, 0.6, -0.2}));
    const std::vector<double> v = Values(d);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], -0.9); // the largest magnitude of each group of four
    EXPECT_EQ(v[1], 0.6);
}

struct SteadyCase {
    int maxSize, blockSize;
    double factor;
    bool minMax;
};

class FifoDecimatorSteady : public ::testing::TestWithParam<SteadyCase> {};

// A tracker runs once per frame on the audio thread: once the history has its
// length, adding blocks (even ones longer than the history) allocates nothing.
TEST_P(FifoDecimatorSteady, AllocatesNothingOnceFull) {
    const SteadyCase c = GetParam();
    FifoDecimator d(c.minMax);
    d.SetParams(c.maxSize, c.factor);
    KIT_TypedBuf<double> block;
    block.Resize(c.blockSize);
    for (int i = 0; i < c.blockSize; ++i) block[i] = (i % 7) - 3.0;
    while (Values(d).size() < static_cast<size_t>(c.maxSize)) d.AddValues(block);
    d.AddValues(block);
    testsupport::AllocCounter counter;
    for (int i = 0; i < 200; ++i) d.AddValues(block);
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_EQ(Values(d).size(), static_cast<size_t>(c.maxSize));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FifoDecimatorSteady,
                         ::testing::Values(SteadyCase{100, 2048, 1.0, true},
                                           SteadyCase{64, 2048, 0.25, false},
                                           SteadyCase{4096, 512, 1.0, true},
                                           SteadyCase{3000, 2048, 0.5, true}));

} // namespace
