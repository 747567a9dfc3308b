#include "toolkit/DspUtilsSpectrum.h"

#include "tests/toolkit/DspTestBuffers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using Buf = KIT_TypedBuf<double>;
using dsptest::FromVector;
using dsptest::SetValues;
using dsptest::Values;
using CBuf = KIT_TypedBuf<ComplexValue>;

constexpr double kPi = 3.14159265358979323846;

TEST(DspUtilsSpectrum, MagnitudePhaseRoundTrip) {
    CBuf spectrum;
    spectrum.Resize(6);
    const ComplexValue values[] = {{0, 0}, {3, 4}, {-1, 0}, {0, -2}, {-1e-3, 1e-3}, {5, -12}};
    for (int i = 0; i < 6; ++i) spectrum[i] = values[i];

    Buf magn, phase, magnOnly;
    DspUtils::ComplexToMagnPhase(magn, phase, spectrum);
    DspUtils::ComplexToMagn(magnOnly, spectrum);
    ASSERT_EQ(magn.GetSize(), 6);
    ASSERT_EQ(phase.GetSize(), 6);
    EXPECT_EQ(magn[0], 0.0); // 0 + 0i: magnitude 0, phase 0
    EXPECT_EQ(phase[0], 0.0);
    EXPECT_EQ(magn[1], 5.0);
    EXPECT_DOUBLE_EQ(phase[2], kPi);
    EXPECT_DOUBLE_EQ(phase[3], -kPi / 2);
    EXPECT_EQ(magn[5], 13.0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(magnOnly[i], magn[i]);

    CBuf back;
    DspUtils::MagnPhaseToComplex(back, magn, phase);
    ASSERT_EQ(back.GetSize(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(back[i].re, values[i].re, 1e-14);
        EXPECT_NEAR(back[i].im, values[i].im, 1e-14);
    }
}

TEST(DspUtilsSpectrum, MagnPhaseToComplexRefusesUnequalCounts) {
    Buf magn, phase;
    magn.Resize(1025);
    phase.Resize(1024);
    DspUtils::FillZero(magn);
    DspUtils::FillZero(phase);
    CBuf spectrum;
    spectrum.Resize(3);
    spectrum[0] = {7, 8};
    DspUtils::MagnPhaseToComplex(spectrum, magn, phase);
    ASSERT_EQ(spectrum.GetSize(), 3);
    EXPECT_EQ(spectrum[0].re, 7.0);
}

TEST(DspUtilsSpectrum, FillSecondHalfMirrorsWithConjugate) {
    CBuf s;
    s.Resize(2048);
    for (int i = 0; i < 2048; ++i) s[i] = {double(i) + 1, -double(i) * 0.5};
    DspUtils::FillSecondFftHalf(s);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(s[i].re, i + 1.0);
        ASSERT_EQ(s[i].im, -i * 0.5);
    }
    EXPECT_EQ(s[1024].re, 0.0);
    EXPECT_EQ(s[1024].im, 0.0);
    for (int i = 1; i < 1024; ++i) {
        ASSERT_EQ(s[1024 + i].re, s[1024 - i].re);
        ASSERT_EQ(s[1024 + i].im, -s[1024 - i].im);
    }
    EXPECT_EQ(s[2047].im, 0.5); // conjugate of bin 1

    Buf m = FromVector({1, 2, 3, 4, 9, 9, 9});
    DspUtils::FillSecondFftHalf(m); // n = 7, h = 3; element 6 is past the mirror
    const std::vector<double> expect = {1, 2, 3, 0, 3, 2, 9};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(m[i], expect[static_cast<size_t>(i)]) << i;
}

TEST(DspUtilsSpectrum, FillSecondHalfLeavesShortSpectraAlone) {
    for (int n : {0, 1, 2, 3}) {
        CBuf s;
        s.Resize(n);
        for (int i = 0; i < n; ++i) s[i] = {1.0 + i, 1.0};
        DspUtils::FillSecondFftHalf(s);
        for (int i = 0; i < n; ++i) EXPECT_EQ(s[i].re, 1.0 + i);

        Buf m;
        m.Resize(n);
        for (int i = 0; i < n; ++i) m[i] = 1.0 + i;
        DspUtils::FillSecondFftHalf(m);
        for (int i = 0; i < n; ++i) EXPECT_EQ(m[i], 1.0 + i);
    }
}

struct PiCase {
    double angle, expect;
};

class MapToPiTest : public ::testing::TestWithParam<PiCase> {};

TEST_P(MapToPiTest, WrapsIntoHalfOpenRange) {
    EXPECT_NEAR(DspUtils::MapToPi(GetParam().angle), GetParam().expect, 1e-12);
    Buf b = FromVector({GetParam().angle});
    DspUtils::MapToPi(b);
    EXPECT_EQ(b[0], DspUtils::MapToPi(GetParam().angle));
}

INSTANTIATE_TEST_SUITE_P(Angles, MapToPiTest,
                         ::testing::Values(PiCase{kPi, kPi}, PiCase{-kPi, kPi},
                                           PiCase{7, 7 - 2 * kPi}, PiCase{-4, 2 * kPi - 4},
                                           PiCase{0, 0}, PiCase{3 * kPi, kPi},
                                           PiCase{-100, -100 + 32 * kPi}));

TEST(DspUtilsSpectrum, MagnPhaseToCartesian) {
    Buf magn = FromVector({2, 1, 0});
    Buf phase = FromVector({0, kPi / 2, 1});
    Buf x, y;
    DspUtils::MagnPhaseToCartesian(magn, phase, x, y);
    ASSERT_EQ(x.GetSize(), 3);
    ASSERT_EQ(y.GetSize(), 3);
    EXPECT_EQ(x[0], 2.0);
    EXPECT_EQ(y[0], 0.0);
    EXPECT_NEAR(x[1], 0.0, 1e-15);
    EXPECT_EQ(y[1], 1.0);
    EXPECT_EQ(x[2], 0.0);
}

TEST(DspUtilsSpectrum, UnwrapPhasesMakesARisingSequence) {
    // A steadily advancing phase, wrapped, then unwrapped again.
    const double stepAngle = 2.5;
    std::vector<double> wrapped;
    for (int i = 0; i < 50; ++i) wrapped.push_back(DspUtils::MapToPi(-3.0 + i * stepAngle));
    Buf b = FromVector(wrapped);
    DspUtils::UnwrapPhases(b);
    EXPECT_GE(b[0], 0.0);
    EXPECT_NEAR(b[0], -3.0 + 2 * kPi, 1e-12);
    for (int i = 1; i < 50; ++i) {
        EXPECT_GE(b[i], b[i - 1]);
        EXPECT_NEAR(b[i] - b[i - 1], stepAngle, 1e-9) << i;
    }

    Buf empty;
    DspUtils::UnwrapPhases(empty); // nothing to do
    EXPECT_EQ(empty.GetSize(), 0);
}

// Phases from a broken analysis must not hang the loop.
TEST(DspUtilsSpectrum, UnwrapPhasesSurvivesNonFiniteAndHugeValues) {
    Buf b = FromVector({-1e300, -INFINITY, NAN, 1.0, -1e300});
    DspUtils::UnwrapPhases(b);
    EXPECT_EQ(b.GetSize(), 5);
}

} // namespace
