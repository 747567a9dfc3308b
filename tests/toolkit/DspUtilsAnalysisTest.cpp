#include "toolkit/DspUtilsAnalysis.h"

#include "tests/toolkit/DspTestBuffers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Buf = KIT_TypedBuf<double>;
using dsptest::FromVector;
using dsptest::SetValues;
using dsptest::Values;

TEST(DspUtilsStats, MeansAndRms) {
    const Buf b = FromVector({1, -2, 3, -4});
    EXPECT_DOUBLE_EQ(DspUtils::ComputeRms(b), std::sqrt(30.0 / 4));
    EXPECT_DOUBLE_EQ(DspUtils::ComputeRms(b.Get(), 2), std::sqrt(5.0 / 2));
    EXPECT_EQ(DspUtils::ComputeAvg(b), -0.5);
    EXPECT_EQ(DspUtils::ComputeAvg(b.Get(), 3), 2.0 / 3);
    EXPECT_EQ(DspUtils::ComputeAvgAbs(b), 2.5);
    EXPECT_EQ(DspUtils::ComputeAvgAbs(b.Get(), 2), 1.5);

    // Empty data: 0, never a division by zero.
    const Buf empty;
    EXPECT_EQ(DspUtils::ComputeAvg(b.Get(), 0), 0.0);
    EXPECT_EQ(DspUtils::ComputeAvg(b.Get(), -1), 0.0);
    EXPECT_EQ(DspUtils::ComputeAvg(empty), 0.0);
    EXPECT_EQ(DspUtils::ComputeRms(empty), 0.0);
    EXPECT_EQ(DspUtils::ComputeAvgAbs(empty), 0.0);
    EXPECT_EQ(DspUtils::ComputeAvgAbs(nullptr, 5), 0.0);
}

struct RangeCase {
    int first, last;
    double avg, avgAbs;
};

class RangeMeanTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeMeanTest, UsesOnlyIndicesInsideTheBuffer) {
    const Buf b = FromVector({1, -2, 3, -4});
    EXPECT_EQ(DspUtils::ComputeAvg(b, GetParam().first, GetParam().last), GetParam().avg);
    EXPECT_EQ(DspUtils::ComputeAvgAbs(b, GetParam().first, GetParam().last), GetParam().avgAbs);
}

INSTANTIATE_TEST_SUITE_P(Ranges, RangeMeanTest,
                         ::testing::Values(RangeCase{1, 2, 0.5, 2.5}, RangeCase{0, 3, -0.5, 2.5},
                                           RangeCase{-5, 0, 1, 1}, RangeCase{3, 99, -4, 4},
                                           RangeCase{4, 9, 0, 0}, RangeCase{2, 1, 0, 0}));

TEST(DspUtilsDecimate, PeakKeepsLargestMagnitudePerGroup) {
    const Buf in = FromVector({0.1, -0.9, 0.5, 0.2, 0.3, 0.3, -0.3, 0.1});
    Buf out;
    DspUtils::DecimateSamplesPeak(out, in, 0.25);
    // Group two ties at 0.3: the earlier one (0.3, not -0.3) is kept.
    EXPECT_EQ(Values(out), (std::vector<double>{-0.9, 0.3}));
}

TEST(DspUtilsDecimate, MinMaxAlternatesOnASine) {
    // 40 periods of 64 samples, decimated by 1/16: four outputs per period.
    std::vector<double> v;
    for (int i = 0; i < 40 * 64; ++i) v.push_back(std::sin(2 * M_PI * (i + 0.5) / 64));
    const Buf in = FromVector(v);
    Buf out;
    DspUtils::DecimateSamplesMinMax(out, in, 1.0 / 16);
    ASSERT_EQ(out.GetSize(), 160);
    int troughs = 0, peaks = 0;
    for (int i = 0; i < out.GetSize(); ++i) {
        if (out[i] < -0.99) ++troughs;
        if (out[i] > 0.99) ++peaks;
    }
    EXPECT_GE(troughs, 35);
    EXPECT_GE(peaks, 35);
    // The polarity follows the input's half-periods: two outputs per half,
    // so the sign flips at every second output.
    int flips = 0;
    for (int i = 1; i < out.GetSize(); ++i) flips += (out[i] > 0) != (out[i - 1] > 0);
    EXPECT_GE(flips, 75);
    EXPECT_LE(flips, 80);
}

struct DecimateCase {
    std::vector<double> in;
    double factor;
    std::vector<double> minMax;
};

class DecimateMinMaxTest : public ::testing::TestWithParam<DecimateCase> {};

// The in-place form must agree with decimating into a second buffer.
TEST_P(DecimateMinMaxTest, ExactOutputsAndInPlaceAgrees) {
    const DecimateCase& c = GetParam();
    const Buf in = FromVector(c.in);
    Buf out;
    DspUtils::DecimateSamplesMinMax(out, in, c.factor);
    EXPECT_EQ(Values(out), c.minMax);
    Buf inPlace = FromVector(c.in);
    DspUtils::DecimateSamples(inPlace, c.factor);
    EXPECT_EQ(Values(inPlace), c.minMax);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecimateMinMaxTest,
                         ::testing::Values(
                             // First output takes the minimum; after a sign change the maximum.
                             DecimateCase{{1, -2, 3, 4, -5, 6}, 0.5, {-2, 4, -5}},
                             // No sign change: stays with minima.
                             DecimateCase{{-1, -3, -2, -4}, 0.5, {-3, -4}},
                             DecimateCase{{1, 2, 3}, 1.0, {1, 2, 3}}, // factor >= 1: copy
                             DecimateCase{{1, 2, 3}, 0.0, {}},        // nothing to keep
                             DecimateCase{{1, 2, 3}, NAN, {}})); // bad factor: no index from NaN

// In place means: the buffer is copied and the copy decimated into the
// buffer. With factors whose running sum falls a rounding short of the last
// output (ten steps of 0.1 sum to just below 1) that element keeps its sample.
TEST(DspUtilsDecimate, InPlaceIsDecimatingACopyIntoTheBuffer) {
    std::vector<double> v;
    for (int i = 0; i < 30; ++i) v.push_back(std::sin(i * 0.9) * (i + 1));
    for (double factor : {0.1, 0.3, 0.25, 1.0 / 3, 0.7}) {
        Buf inPlace = FromVector(v);
        DspUtils::DecimateSamples(inPlace, factor);
        Buf expect = FromVector(v);
        const Buf copy = FromVector(v);
        DspUtils::DecimateSamplesMinMax(expect, copy, factor);
        EXPECT_EQ(Values(inPlace), Values(expect)) << "factor " << factor;
    }
    Buf ten = FromVector({5, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    DspUtils::DecimateSamples(ten, 0.1);
    EXPECT_EQ(Values(ten), (std::vector<double>{5}));
}

TEST(DspUtilsDecimate, EmptyInputLeavesOutputAlone) {
    Buf out = FromVector({7});
    const Buf empty;
    DspUtils::DecimateSamplesPeak(out, empty, 0.5);
    DspUtils::DecimateSamplesMinMax(out, empty, 0.5);
    EXPECT_EQ(Values(out), (std::vector<double>{7}));
}

struct QuadCase {
    double a, b, c;
    int count;
    double r0, r1;
};

class SecondOrderTest : public ::testing::TestWithParam<QuadCase> {};

TEST_P(SecondOrderTest, Roots) {
    const QuadCase& q = GetParam();
    double roots[2] = {99, 99};
    ASSERT_EQ(DspUtils::SecondOrderEqSolve(roots, q.a, q.b, q.c), q.count);
    if (q.count >= 1) {
        EXPECT_DOUBLE_EQ(roots[0], q.r0);
    }
    if (q.count >= 2) {
        EXPECT_DOUBLE_EQ(roots[1], q.r1);
    } else {
        EXPECT_EQ(roots[1], 99);
    }
}

INSTANTIATE_TEST_SUITE_P(Equations, SecondOrderTest,
                         ::testing::Values(QuadCase{1, -3, 2, 2, 1, 2}, QuadCase{1, 2, 1, 1, -1, 0},
                                           QuadCase{1, 0, 1, 0, 0, 0},
                                           QuadCase{-1, 0, 4, 2, 2, -2}));

TEST(DspUtilsPaths, ExtensionAndFileName) {
    struct Case {
        const char* path;
        const char* extension; // null: none
        const char* name;
    };
    const Case cases[] = {{"dir/file.wav", "wav", "file.wav"},
                          {"noext", nullptr, "noext"},
                          {"name.", "", "name."},
                          {"a/b/", nullptr, ""},
                          {"x.tar.gz", "gz", "x.tar.gz"},
                          {"", nullptr, ""}};
    for (const Case& c : cases) {
        const char* ext = DspUtils::GetFileExtension(c.path);
        if (c.extension) {
            EXPECT_STREQ(ext, c.extension) << c.path;
        } else {
            EXPECT_EQ(ext, nullptr) << c.path;
        }
        EXPECT_STREQ(DspUtils::GetFileName(c.path), c.name) << c.path;
    }
    EXPECT_EQ(DspUtils::GetFileExtension(nullptr), nullptr);
    EXPECT_EQ(DspUtils::GetFileName(nullptr), nullptr);
}

TEST(DspUtilsFiles, AppendsFloatsInOrder) {
    char path[] = "/tmp/dsputils_binXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);

    std::vector<double> first;
    for (int i = 0; i < 300; ++i) first.push_back(i * 0.5); // spans two chunks
    DspUtils::AppendValuesFileBinFloat(path, FromVector(first));
    DspUtils::AppendValuesFileBinFloat(path, FromVector({1.0 / 3}));

    std::FILE* f = std::fopen(path, "rb");
    ASSERT_NE(f, nullptr);
    std::vector<float> read(400);
    const size_t n = std::fread(read.data(), sizeof(float), read.size(), f);
    std::fclose(f);
    std::remove(path);
    ASSERT_EQ(n, 301u);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(read[size_t(i)], float(i * 0.5));
    EXPECT_EQ(read[300], float(1.0 / 3));

    // A path that cannot be opened is skipped quietly.
    DspUtils::AppendValuesFileBinFloat("/nonexistent-dir/x.dat", FromVector({1}));
    DspUtils::AppendValuesFileBinFloat(nullptr, FromVector({1}));
}

} // namespace
