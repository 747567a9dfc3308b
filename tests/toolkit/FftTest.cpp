#include "toolkit/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <set>
#include <vector>

namespace {

using Signal = std::vector<ComplexValue>;

Signal RandomSignal(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Signal x(static_cast<size_t>(n));
    for (ComplexValue& v : x) v = {u(rng), u(rng)};
    return x;
}

// Direct DFT in long double, natural order in and out.
Signal NaiveDft(const Signal& x, int sign) {
    const int n = static_cast<int>(x.size());
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<std::complex<long double>> root(x.size());
    for (int m = 0; m < n; ++m) root[m] = std::polar(1.0L, sign * 2 * pi * m / n);
    Signal out(x.size());
    for (int k = 0; k < n; ++k) {
        std::complex<long double> acc = 0;
        for (int t = 0; t < n; ++t)
            acc += std::complex<long double>(x[t].re, x[t].im) *
                   root[(static_cast<long long>(k) * t) % n];
        out[k] = {static_cast<double>(acc.real()), static_cast<double>(acc.imag())};
    }
    return out;
}

double MaxAbs(const Signal& x) {
    double m = 0;
    for (const ComplexValue& v : x) m = std::max(m, std::hypot(v.re, v.im));
    return m;
}

// Independent statement of the split-radix position rule.
int SplitIndex(int i, int n) {
    if (n < 3) return i;
    if (i < n / 2) return 2 * SplitIndex(i, n / 2);
    const int j = i - n / 2, q = n / 4;
    if (j < q) return 4 * SplitIndex(j, q) + 1;
    return (4 * SplitIndex(j - q, q) - 1) & (n - 1);
}

class FftSizes : public ::testing::TestWithParam<int> {};

TEST_P(FftSizes, ForwardMatchesDirectDftInPermutedOrder) {
    const int n = GetParam();
    const Signal x = RandomSignal(n, 11u + n);
    const Signal expect = NaiveDft(x, -1);
    Signal y = x;
    FftComplex(y.data(), n, 0);
    const double tolerance = 1e-12 * n * MaxAbs(expect);
    for (int k = 0; k < n; ++k) {
        const ComplexValue got = y[FftPermuteIndex(n, k)];
        ASSERT_NEAR(got.re, expect[k].re, tolerance) << "bin " << k;
        ASSERT_NEAR(got.im, expect[k].im, tolerance) << "bin " << k;
    }
}

TEST_P(FftSizes, InverseTakesPermutedOrderAndMatchesDirectDft) {
    const int n = GetParam();
    const Signal spectrum = RandomSignal(n, 23u + n);
    const Signal expect = NaiveDft(spectrum, +1);
    Signal y(spectrum.size());
    for (int k = 0; k < n; ++k) y[FftPermuteIndex(n, k)] = spectrum[k];
    FftComplex(y.data(), n, 1);
    const double tolerance = 1e-12 * n * MaxAbs(expect);
    for (int t = 0; t < n; ++t) {
        ASSERT_NEAR(y[t].re, expect[t].re, tolerance) << "sample " << t;
        ASSERT_NEAR(y[t].im, expect[t].im, tolerance) << "sample " << t;
    }
}

TEST_P(FftSizes, PermutationFollowsTheSplitRadixRule) {
    const int n = GetParam();
    const int* table = FftPermuteTable(n);
    ASSERT_NE(table, nullptr);
    std::set<int> positions;
    for (int k = 0; k < n; ++k) {
        const int i = FftPermuteIndex(n, k);
        EXPECT_EQ(i, table[k]);
        EXPECT_EQ((n - SplitIndex(i, n)) % n, k) << "bin " << k;
        positions.insert(i);
    }
    EXPECT_EQ(static_cast<int>(positions.size()), n);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSizes,
                         ::testing::Values(2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096));

TEST(Fft, SmallSizesAreExact) {
    Signal two = {{3, 1}, {1, -2}};
    FftComplex(two.data(), 2, 0);
    EXPECT_EQ(two[0].re, 4);
    EXPECT_EQ(two[0].im, -1);
    EXPECT_EQ(two[1].re, 2);
    EXPECT_EQ(two[1].im, 3);

    struct Case {
        Signal in, out;
    };
    const Case cases[] = {
        {{{1, 0}, {0, 0}, {0, 0}, {0, 0}}, {{1, 0}, {1, 0}, {1, 0}, {1, 0}}},
        // Positions hold bins 0, 2, 3, 1 of e^(-2 pi j k / 4).
        {{{0, 0}, {1, 0}, {0, 0}, {0, 0}}, {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}},
    };
    for (const Case& c : cases) {
        Signal y = c.in;
        FftComplex(y.data(), 4, 0);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(y[i].re, c.out[i].re) << i;
            EXPECT_EQ(y[i].im, c.out[i].im) << i;
        }
    }
    const int expectPositions[] = {0, 3, 1, 2}; // bin k sits at this position
    for (int k = 0; k < 4; ++k) EXPECT_EQ(FftPermuteIndex(4, k), expectPositions[k]);
}

TEST(Fft, ForwardThenInverseScalesByN) {
    for (int n = 2; n <= 32768; n *= 2) {
        const Signal x = RandomSignal(n, 7u * n);
        Signal y = x;
        FftComplex(y.data(), n, 0);
        FftComplex(y.data(), n, 1);
        double err = 0;
        for (int t = 0; t < n; ++t) {
            err = std::max(err, std::fabs(y[t].re / n - x[t].re));
            err = std::max(err, std::fabs(y[t].im / n - x[t].im));
        }
        EXPECT_LT(err, 1e-14 * std::log2(n) + 1e-15) << "n = " << n;
    }
}

TEST(Fft, FastPathMatchesReference) {
    for (int n = 2; n <= 32768; n *= 2) {
        for (int inverse = 0; inverse <= 1; ++inverse) {
            const Signal x = RandomSignal(n, 3u * n + inverse);
            Signal fast = x, plain = x;
            FftComplex(fast.data(), n, inverse);
            FftComplexReference(plain.data(), n, inverse);
            const double tolerance = 1e-14 * MaxAbs(plain) * std::log2(n);
            for (int i = 0; i < n; ++i) {
                ASSERT_NEAR(fast[i].re, plain[i].re, tolerance) << n << " " << inverse << " " << i;
                ASSERT_NEAR(fast[i].im, plain[i].im, tolerance) << n << " " << inverse << " " << i;
            }
        }
    }
}

TEST(Fft, UnsupportedSizesLeaveDataUnchanged) {
    for (int n : {-4, 0, 1, 3, 6, 1000, 65536}) {
        const int count = std::max(n, 4);
        const Signal x = RandomSignal(count, 5u);
        Signal y = x;
        FftComplex(y.data(), n, 0);
        FftComplex(y.data(), n, 1);
        FftComplexReference(y.data(), n, 0);
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(y[i].re, x[i].re) << "n = " << n;
            ASSERT_EQ(y[i].im, x[i].im) << "n = " << n;
        }
        EXPECT_EQ(FftPermuteTable(n), nullptr);
        EXPECT_EQ(FftPermuteIndex(n, 2), 2);
        EXPECT_FALSE(FftIsSupportedSize(n));
    }
    FftComplex(nullptr, 8, 0); // no data: nothing happens
}

} // namespace
