#include "toolkit/DspUtilsScale.h"

#include "tests/support/AllocCounter.h"

#include "tests/toolkit/DspTestBuffers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Buf = KIT_TypedBuf<double>;
using dsptest::FromVector;
using dsptest::SetValues;
using dsptest::Values;

constexpr double kHzPerBin = 43.06640625; // 44100 Hz / 1024 bins

std::vector<double> Spectrum(int n) {
    std::vector<double> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = 1.0 + std::sin(i * 0.37) + i * 1e-3;
    return v;
}

// Independent references, written from the plug-in's description of the
// feature maths (log10 form, floor, accumulated positions).
std::vector<double> RefLinearToMel(const std::vector<double>& in, double h, double fill) {
    const size_t n = in.size();
    std::vector<double> out(n, fill);
    const double F = (n - 1) * h;
    const double M = std::log10(1 + F / 700);
    for (size_t i = 0; i < n; ++i) {
        const double f = 700 * (std::pow(10.0, i * M / n) - 1);
        const double p = f * n / F;
        const double j = std::floor(p), t = p - j;
        if (j + 1 < n) out[i] = (1 - t) * in[size_t(j)] + t * in[size_t(j) + 1];
    }
    return out;
}

std::vector<double> RefMelToLinear(const std::vector<double>& in, double h, double fill) {
    const size_t n = in.size();
    std::vector<double> out(n, fill);
    const double C = std::log10(1 + (n - 1) * h / 700);
    for (size_t i = 0; i < n; ++i) {
        const double p = std::log10(1 + i * h / 700) / C * n;
        const double j = std::floor(p), t = p - j;
        if (std::floor(p + 1) < n) out[i] = (1 - t) * in[size_t(j)] + t * in[size_t(p + 1)];
    }
    return out;
}

std::vector<double> RefResizeLinear(const std::vector<double>& in, int m) {
    const int n = static_cast<int>(in.size());
    std::vector<double> out(static_cast<size_t>(m), 0.0);
    const double step = double(n - 1) / m;
    double x = 0;
    for (int i = 0; i < m; ++i, x += step) {
        const double j = std::floor(x), t = x - j;
        if (j < n - 1) out[size_t(i)] = (1 - t) * in[size_t(j)] + t * in[size_t(j) + 1];
    }
    return out;
}

void ExpectClose(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_NEAR(got[i], want[i], 1e-12 * (1 + std::fabs(want[i]))) << "index " << i;
}

TEST(DspUtilsMel, FeatureRoadMatchesReferenceAtSystemSizes) {
    const std::vector<double> in = Spectrum(1024);

    Buf mel;
    DspUtils::LinearToMel(mel, FromVector(in), kHzPerBin, -7.0);
    const std::vector<double> refMel = RefLinearToMel(in, kHzPerBin, -7.0);
    ExpectClose(Values(mel), refMel);
    EXPECT_EQ(mel[0], in[0]);
    for (double v : Values(mel)) EXPECT_NE(v, -7.0); // every position in range

    DspUtils::ResizeLinear(mel, 256);
    const std::vector<double> refSmall = RefResizeLinear(refMel, 256);
    ExpectClose(Values(mel), refSmall);

    DspUtils::ResizeLinear(mel, 1024);
    const std::vector<double> refBig = RefResizeLinear(refSmall, 1024);
    ExpectClose(Values(mel), refBig);

    Buf linear;
    DspUtils::MelToLinear(linear, mel, kHzPerBin, -7.0);
    const std::vector<double> refLinear = RefMelToLinear(refBig, kHzPerBin, -7.0);
    ExpectClose(Values(linear), refLinear);
    for (int i = 0; i < 1024; ++i) EXPECT_EQ(linear[i] == -7.0, i >= 1019) << i;
}

bool SameBits(const Buf& a, const Buf& b) {
    return a.GetSize() == b.GetSize() &&
           std::memcmp(a.Get(), b.Get(), sizeof(double) * static_cast<size_t>(a.GetSize())) == 0;
}

// Sizes past the cache's slots and capacity, so that every road is taken:
// the slot filled on first use, its reuse, a size that finds every slot
// taken and one too long to keep.
struct MelSize {
    int n;
    double h;
};
const MelSize kMelSizes[] = {{1024, kHzPerBin}, {1024, 21.533203125}, {16, 1000.0}, {2, 5.0},
                             {777, 30.0},       {1025, kHzPerBin},    {2048, 10.0}, {2049, 10.0},
                             {4096, 5.0},       {1024, kHzPerBin}};

// Each call of the cached mappings gives the bits of the reference, which
// computes every position afresh.
void ExpectMelMappingsMatchReference(const MelSize& size, int round) {
    const Buf in = FromVector(Spectrum(size.n));
    Buf got, want;
    DspUtils::LinearToMel(got, in, size.h, -1.0);
    DspUtils::LinearToMelReference(want, in, size.h, -1.0);
    EXPECT_TRUE(SameBits(got, want))
        << "LinearToMel n " << size.n << " h " << size.h << " round " << round;
    DspUtils::MelToLinear(got, in, size.h, -1.0);
    DspUtils::MelToLinearReference(want, in, size.h, -1.0);
    EXPECT_TRUE(SameBits(got, want))
        << "MelToLinear n " << size.n << " h " << size.h << " round " << round;
}

TEST(DspUtilsMel, CachedPositionsGiveTheReferenceBits) {
    for (int round = 0; round < 3; ++round)
        for (const MelSize& size : kMelSizes) ExpectMelMappingsMatchReference(size, round);
}

// The predictor runs this road every frame on the audio thread: once the
// buffers have their sizes it must not allocate.
TEST(DspUtilsMel, FeatureRoadAllocatesNothingInSteadyState) {
    const Buf in = FromVector(Spectrum(1024));
    Buf mel, mask;
    for (int frame = 0; frame < 3; ++frame) {
        testsupport::AllocCounter counter;
        DspUtils::LinearToMel(mel, in, kHzPerBin, 0.0);
        DspUtils::ResizeLinear(mel, 256);
        DspUtils::ResizeLinear(mel, 1024);
        DspUtils::MelToLinear(mask, mel, kHzPerBin, 0.0);
        if (frame > 0) {
            EXPECT_EQ(counter.Count(), 0) << "frame " << frame;
        }
    }
}

TEST(DspUtilsMel, DegenerateWidthsGiveFill) {
    const Buf in = FromVector(Spectrum(16));
    const Buf one = FromVector({5.0});
    const Buf none;
    struct Case {
        const Buf* input;
        double h;
    };
    const Case cases[] = {{&in, 0.0},
                          {&in, -3.0},
                          {&in, std::numeric_limits<double>::quiet_NaN()},
                          {&in, std::numeric_limits<double>::infinity()},
                          {&one, kHzPerBin},
                          {&none, kHzPerBin}};
    for (const Case& c : cases) {
        Buf a, b;
        DspUtils::LinearToMel(a, *c.input, c.h, 2.5);
        DspUtils::MelToLinear(b, *c.input, c.h, 2.5);
        ASSERT_EQ(a.GetSize(), c.input->GetSize());
        ASSERT_EQ(b.GetSize(), c.input->GetSize());
        for (int i = 0; i < a.GetSize(); ++i) {
            EXPECT_EQ(a[i], 2.5) << "h " << c.h;
            EXPECT_EQ(b[i], 2.5) << "h " << c.h;
        }
    }
}

TEST(DspUtilsMel, MelHzRoundTrip) {
    EXPECT_EQ(DspUtils::HzToMel(0), 0.0);
    EXPECT_NEAR(DspUtils::HzToMel(700), 2595 * std::log10(2.0), 1e-12);
    for (double f : {10.0, 440.0, 8000.0, 22050.0})
        EXPECT_NEAR(DspUtils::MelToHz(DspUtils::HzToMel(f)), f, 1e-9 * f);
}

struct ResizeCase {
    int from, to;
};

class ResizeLinearTest : public ::testing::TestWithParam<ResizeCase> {};

// The in-place walk must give what a fresh output buffer gives.
TEST_P(ResizeLinearTest, InPlaceMatchesReference) {
    const std::vector<double> in = Spectrum(GetParam().from);
    Buf b = FromVector(in);
    if (in.empty()) b.Resize(0);
    DspUtils::ResizeLinear(b, GetParam().to);
    ExpectClose(Values(b), RefResizeLinear(in, GetParam().to));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeLinearTest,
                         ::testing::Values(ResizeCase{1024, 256}, ResizeCase{256, 1024},
                                           ResizeCase{10, 10}, ResizeCase{10, 9},
                                           ResizeCase{10, 11}, ResizeCase{7, 3}, ResizeCase{3, 100},
                                           ResizeCase{2, 2}, ResizeCase{1, 5}, ResizeCase{0, 4}));

TEST(DspUtilsResizeLinear, LastOutputStopsShortAndEmptyTarget) {
    Buf b = FromVector({0, 1, 2, 3, 4});
    DspUtils::ResizeLinear(b, 4); // step 1: positions 0..3
    EXPECT_EQ(Values(b), (std::vector<double>{0, 1, 2, 3}));
    DspUtils::ResizeLinear(b, 0);
    EXPECT_EQ(b.GetSize(), 0);
    Buf one = FromVector({9});
    DspUtils::ResizeLinear(one, 3);
    EXPECT_EQ(Values(one), (std::vector<double>{0, 0, 0}));
}

struct DbCase {
    double x, eps, minDb, expect;
};

class AmpToDbNormTest : public ::testing::TestWithParam<DbCase> {};

TEST_P(AmpToDbNormTest, NormalisedValue) {
    const DbCase& c = GetParam();
    EXPECT_NEAR(DspUtils::AmpToDbNormValue(c.x, c.eps, c.minDb), c.expect, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Values, AmpToDbNormTest,
                         ::testing::Values(DbCase{1, 1e-16, -60, 1}, DbCase{-1, 1e-16, -60, 1},
                                           DbCase{0.001, 1e-16, -60, 0}, DbCase{0, 1e-16, -60, 0},
                                           DbCase{10, 1e-16, -60, 80.0 / 60},
                                           DbCase{1e-6, 1e-16, -60, 0}, // below the floor
                                           DbCase{0.1, 1e-16, -60, 40.0 / 60},
                                           DbCase{0.5, 0.6, -60, 0})); // not above eps

TEST(DspUtilsDb, BufferConversionMatchesScalar) {
    const Buf in = FromVector({1, 0.1, 0, -10, 1e-20});
    Buf out, inPlace = FromVector({1, 0.1, 0, -10, 1e-20});
    DspUtils::AmpToDbNorm(out, in, 1e-15, -120);
    DspUtils::AmpToDbNorm(inPlace, 1e-15, -120);
    ASSERT_EQ(out.GetSize(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(out[i], DspUtils::AmpToDbNormValue(in[i], 1e-15, -120));
        EXPECT_EQ(inPlace[i], out[i]);
    }
}

TEST(DspUtilsDb, PlainAndRangeConversions) {
    EXPECT_NEAR(DspUtils::AmpToDb(0.1, 1e-15, -60), -20.0, 1e-12);
    EXPECT_NEAR(DspUtils::AmpToDb(-10, 1e-15, -60), 20.0, 1e-12);
    EXPECT_EQ(DspUtils::AmpToDb(1e-15, 1e-15, -60), -60.0); // threshold is exclusive
    EXPECT_EQ(DspUtils::AmpToDb(0, 1e-15, -60), -60.0);

    EXPECT_NEAR(DspUtils::AmpToDbNormRange(1.0, -120, 0), 1.0, 1e-12);
    EXPECT_NEAR(DspUtils::AmpToDbNormRange(1e-3, -120, 0), 0.5, 1e-12);
    EXPECT_EQ(DspUtils::AmpToDbNormRange(0.0, -120, 0), 0.0);
    // Only silence takes minDb; real levels outside the range are not clamped.
    EXPECT_NEAR(DspUtils::AmpToDbNormRange(1e-10, -120, 0), -80.0 / 120, 1e-12);
    EXPECT_NEAR(DspUtils::AmpToDbNormRange(-10.0, -120, 0), 140.0 / 120, 1e-12);
    EXPECT_EQ(DspUtils::AmpToDbNormRange(0.99e-16, -120, 0), 0.0);
    for (double x : {1.0, 0.25, 1e-4}) {
        const double t = DspUtils::AmpToDbNormRange(x, -120, 12);
        EXPECT_NEAR(DspUtils::NormDbToAmp(t, -120, 12), x, 1e-12 * (1 + x));
    }
}

TEST(DspUtilsScale, NextPowerOfTwo) {
    const int cases[][2] = {{-5, 1},
                            {0, 1},
                            {1, 1},
                            {2, 2},
                            {3, 4},
                            {1000, 1024},
                            {1024, 1024},
                            {1025, 2048},
                            {1 << 30, 1 << 30},
                            {(1 << 30) + 1, 0}};
    for (const auto& c : cases) EXPECT_EQ(DspUtils::NextPowerOfTwo(c[0]), c[1]) << c[0];
}

TEST(DspUtilsScale, ShapeForCenter0) {
    EXPECT_NEAR(DspUtils::ComputeShapeForCenter0(-120, 12), 0.13750352374993496, 1e-15);
    EXPECT_NEAR(DspUtils::ComputeShapeForCenter0(-60, 12), std::log(60.0 / 72) / -std::log(2.0),
                1e-15);
    // Symmetric range: 0 is already in the middle.
    EXPECT_NEAR(DspUtils::ComputeShapeForCenter0(-10, 10), 1.0, 1e-15);
}

// Reference warp into a separate buffer.
std::vector<double> RefWarp(const std::vector<double>& in, double k) {
    const int n = static_cast<int>(in.size());
    std::vector<double> out(in.size());
    for (int i = 0; i < n; ++i) {
        long b = long((std::exp(k * i / n) - 1) / (std::exp(k) - 1) * n);
        b = std::max(0L, std::min(long(n - 1), b));
        out[size_t(i)] = in[size_t(b)];
    }
    return out;
}

// Tiny factors: e^x - 1 cancels, and the source index lands on either side of
// the output index, so an in-place walk would read overwritten elements.
TEST(DspUtilsScale, WarpExpAxisInPlaceMatchesReference) {
    for (int n : {1, 2, 7, 1024, 2529}) {
        for (double k : {3.0, 0.01, -2.0, 12.0, 2.85316e-14, -3e-14, 1e-9, -1e-9}) {
            std::vector<double> in(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) in[size_t(i)] = i;
            Buf b = FromVector(in);
            DspUtils::WarpExpAxis(b, k);
            EXPECT_EQ(Values(b), RefWarp(in, k)) << "n " << n << " k " << k;
        }
    }
    Buf b = FromVector({1, 2, 3});
    DspUtils::WarpExpAxis(b, 0.0); // identity instead of 0 / 0
    EXPECT_EQ(Values(b), (std::vector<double>{1, 2, 3}));
}

} // namespace
