#include "nn/nn_kernels.h"

#include "tests/nn/NnTestSupport.h"

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using nn::KernelKind;
using nntest::sameBits;

// Floats spread over many binades, so that different summation orders round
// differently.
std::vector<float> spreadValues(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) x = std::ldexp(mantissa(rng), exponent(rng));
    return v;
}

// The three summation orders, stated independently of the kernels.
float referenceScalar(const float* a, const float* b, int n) {
    float s = 0.0f;
    for (int k = 0; k < n; ++k) s = s + a[k] * b[k];
    return s;
}
float referenceVector(const float* a, const float* b, int n) {
    float lane[4] = {0, 0, 0, 0};
    for (int k = 0; k < n; ++k) lane[k % 4] = lane[k % 4] + a[k] * b[k];
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}
float referenceVector2(const float* a, const float* b, int n) {
    float lo[4] = {0, 0, 0, 0}, hi[4] = {0, 0, 0, 0};
    for (int k = 0; k < n; ++k) {
        float* set = k % 8 < 4 ? lo : hi;
        set[k % 4] = set[k % 4] + a[k] * b[k];
    }
    return ((lo[0] + lo[1]) + (lo[2] + lo[3])) + ((hi[0] + hi[1]) + (hi[2] + hi[3]));
}

class SumKernelTest : public testing::TestWithParam<int> {};

TEST_P(SumKernelTest, EachFamilyFollowsItsOwnOrderBitForBit) {
    const int n = GetParam();
    const std::vector<float> a = spreadValues(n, 11u + unsigned(n));
    const std::vector<float> b = spreadValues(n, 77u + unsigned(n));
    EXPECT_TRUE(sameBits(nn::ScalarMultiplyAdd::sum(a.data(), b.data(), n),
                         referenceScalar(a.data(), b.data(), n)));
    EXPECT_TRUE(sameBits(nn::VectorMultiplyAdd::sum(a.data(), b.data(), n),
                         referenceVector(a.data(), b.data(), n)));
    EXPECT_TRUE(sameBits(nn::Vector2MultiplyAdd::sum(a.data(), b.data(), n),
                         referenceVector2(a.data(), b.data(), n)));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SumKernelTest, testing::Values(0, 8, 16, 64, 136, 1000, 1024));

TEST(SumKernelTest, TestDataTellsTheOrdersApart) {
    // Guards the test above: on its data the three orders must disagree.
    const int n = 1024;
    const std::vector<float> a = spreadValues(n, 11u + n), b = spreadValues(n, 77u + n);
    const float s = referenceScalar(a.data(), b.data(), n);
    const float v = referenceVector(a.data(), b.data(), n);
    const float v2 = referenceVector2(a.data(), b.data(), n);
    EXPECT_FALSE(sameBits(s, v));
    EXPECT_FALSE(sameBits(s, v2));
    EXPECT_FALSE(sameBits(v, v2));
}

TEST(SumKernelTest, VectorLoadsNeedNoAlignment) {
    // Convolution windows start at multiples of the channel count.
    const std::vector<float> a = spreadValues(67, 5), b = spreadValues(67, 6);
    for (int offset = 1; offset < 4; ++offset) {
        EXPECT_TRUE(sameBits(nn::VectorMultiplyAdd::sum(a.data() + offset, b.data() + offset, 64),
                             referenceVector(a.data() + offset, b.data() + offset, 64)));
        EXPECT_TRUE(sameBits(nn::Vector2MultiplyAdd::sum(a.data() + offset, b.data(), 64),
                             referenceVector2(a.data() + offset, b.data(), 64)));
    }
}

// Element-wise kernels compute every element alone, so all widths must give
// the scalar result, special values included.
std::vector<float> specialValues() {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> v = spreadValues(24, 3);
    const float specials[] = {0.0f, -0.0f, inf, -inf, nan, 1e-40f, -1e-40f, 3e38f};
    for (size_t i = 0; i < 8; ++i) v[i * 3] = specials[i];
    return v;
}

template <typename Scalar, typename Wide> void expectSameElementwise(const char* name) {
    const std::vector<float> x = specialValues();
    std::vector<float> y = spreadValues(24, 4);
    y[1] = -0.0f;
    y[4] = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> narrow = y, wide = y;
    Scalar::run(x.data(), narrow.data(), 24);
    Wide::run(x.data(), wide.data(), 24);
    for (int i = 0; i < 24; ++i)
        EXPECT_TRUE(sameBits(narrow[i], wide[i])) << name << " element " << i;
}

TEST(ElementwiseKernelTest, WideKernelsEqualScalar) {
    expectSameElementwise<nn::ScalarAdd, nn::VectorAdd>("VectorAdd");
    expectSameElementwise<nn::ScalarAdd, nn::Vector2Add>("Vector2Add");
    expectSameElementwise<nn::ScalarMultiply, nn::VectorMultiply>("VectorMultiply");
    expectSameElementwise<nn::ScalarMultiply, nn::Vector2Multiply>("Vector2Multiply");
    expectSameElementwise<nn::ScalarMax, nn::VectorMax>("VectorMax");
}

TEST(ElementwiseKernelTest, MultiplyAddRoundsTheProductFirst) {
    // a * s + o with the product rounded: (1 + 2^-12)^2 loses its 2^-24 term.
    const float e = 1.0f + std::ldexp(1.0f, -12);
    std::vector<float> a(8, e), s(8, e), scalar(8, -1.0f), vec(8, -1.0f), vec2(8, -1.0f);
    nn::ScalarMultiplyAdd::run(a.data(), s.data(), scalar.data(), 8);
    nn::VectorMultiplyAdd::run(a.data(), s.data(), vec.data(), 8);
    nn::Vector2MultiplyAdd::run(a.data(), s.data(), vec2.data(), 8);
    const float product = e * e;
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(sameBits(scalar[i], product + -1.0f));
        EXPECT_EQ(scalar[i], std::ldexp(1.0f, -11)); // fused would add 2^-24
        EXPECT_TRUE(sameBits(vec[i], scalar[i]));
        EXPECT_TRUE(sameBits(vec2[i], scalar[i]));
    }
}

TEST(ElementwiseKernelTest, MaxKeepsTheRunningValueUnlessTheInputIsGreater) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // out > in ? out : in
    std::vector<float> out = {1.0f, -0.0f, nan, 2.0f};
    const std::vector<float> in = {2.0f, 0.0f, 5.0f, nan};
    nn::VectorMax::run(in.data(), out.data(), 4);
    EXPECT_EQ(out[0], 2.0f);
    EXPECT_FALSE(std::signbit(out[1]));
    EXPECT_EQ(out[2], 5.0f);
    EXPECT_TRUE(std::isnan(out[3]));
}

struct ChoiceCase {
    int length, threads;
    KernelKind kind, maxKind;
};

class KernelChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(KernelChoiceTest, FollowsThePerPartQuotient) {
    const ChoiceCase c = GetParam();
    EXPECT_EQ(nn::chooseKernel(c.length, c.threads), c.kind);
    EXPECT_EQ(nn::chooseMaxKernel(c.length, c.threads), c.maxKind);
}

constexpr KernelKind S = KernelKind::Scalar, V = KernelKind::Vector, V2 = KernelKind::Vector2;

INSTANTIATE_TEST_SUITE_P(Table, KernelChoiceTest,
                         testing::Values(ChoiceCase{100, 16, S, S}, ChoiceCase{128, 16, V2, V},
                                         ChoiceCase{64, 16, V, V}, ChoiceCase{136, 16, V2, V},
                                         ChoiceCase{132, 16, V, V}, ChoiceCase{130, 16, S, S},
                                         ChoiceCase{0, 1, S, S}, ChoiceCase{4, 16, S, S},
                                         ChoiceCase{8, 1, V2, V}, ChoiceCase{12, 1, V, V},
                                         ChoiceCase{6, 1, S, S}, ChoiceCase{1024, 8, V2, V},
                                         ChoiceCase{1024, 3, S, S}, ChoiceCase{1025, 1, S, S},
                                         ChoiceCase{24, 3, V2, V}, ChoiceCase{20, 5, V, V}));

} // namespace
