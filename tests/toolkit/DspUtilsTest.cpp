#include "toolkit/DspUtils.h"
#include "toolkit/KIT_Alloc.h"

#include "tests/toolkit/DspTestBuffers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using Buf = KIT_TypedBuf<double>;
using dsptest::FromVector;
using dsptest::SetValues;
using dsptest::Values;

struct SilenceCase {
    std::vector<double> samples;
    bool silent;
};

class SilenceTest : public ::testing::TestWithParam<SilenceCase> {};

// The threshold is inclusive and applies to the absolute value; every overload
// must agree.
TEST_P(SilenceTest, AllOverloadsAgree) {
    const SilenceCase& c = GetParam();
    Buf buf;
    SetValues(buf, c.samples);
    EXPECT_EQ(DspUtils::IsAllZero(buf), c.silent);
    EXPECT_EQ(DspUtils::IsAllZero(buf.Get(), buf.GetSize()), c.silent);

    // The value in the real part, then in the imaginary part.
    for (int part = 0; part < 2; ++part) {
        KIT_TypedBuf<ComplexValue> cbuf;
        cbuf.Resize(static_cast<int>(c.samples.size()));
        for (size_t i = 0; i < c.samples.size(); ++i)
            cbuf[static_cast<int>(i)] =
                part ? ComplexValue{0.0, c.samples[i]} : ComplexValue{c.samples[i], 0.0};
        EXPECT_EQ(DspUtils::IsAllZero(cbuf), c.silent) << "part " << part;
    }
}

INSTANTIATE_TEST_SUITE_P(Threshold, SilenceTest,
                         ::testing::Values(SilenceCase{{}, true}, SilenceCase{{1e-16}, true},
                                           SilenceCase{{-1e-16}, true},
                                           SilenceCase{{1.0000001e-16}, false},
                                           SilenceCase{{-1.0000001e-16}, false},
                                           SilenceCase{{0, 0, 0, 0.5}, false},
                                           SilenceCase{{0, 1e-17, -1e-17, 0}, true}));

TEST(DspUtilsSilence, NullPointerIsSilentAndCountBounds) {
    EXPECT_TRUE(DspUtils::IsAllZero(nullptr, 10));
    const double data[] = {0.0, 1.0};
    EXPECT_TRUE(DspUtils::IsAllZero(data, 1));
    EXPECT_FALSE(DspUtils::IsAllZero(data, 2));
}

TEST(DspUtilsFill, FillZeroClearsEveryElementType) {
    Buf d;
    SetValues(d, {1, 2, 3});
    DspUtils::FillZero(d);
    EXPECT_EQ(Values(d), (std::vector<double>{0, 0, 0}));

    KIT_TypedBuf<ComplexValue> c;
    c.Resize(2);
    c[0] = {1, 2};
    c[1] = {3, 4};
    DspUtils::FillZero(c);
    EXPECT_TRUE(DspUtils::IsAllZero(c));

    KIT_TypedBuf<float> f;
    f.Resize(3);
    f[2] = 7.0f;
    DspUtils::FillZero(f);
    EXPECT_EQ(f[2], 0.0f);

    KIT_TypedBuf<int32_t> n;
    n.Resize(3);
    n[1] = 5;
    DspUtils::FillZero(n);
    EXPECT_EQ(n[1], 0);

    double raw[4] = {1, 2, 3, 4};
    DspUtils::FillZero(raw, 3);
    EXPECT_EQ(raw[2], 0.0);
    EXPECT_EQ(raw[3], 4.0);
    DspUtils::FillZero(nullptr, 3); // no crash
}

struct ResizeCase {
    std::vector<double> start;
    int n;
    std::vector<double> expect;
};

class ResizeFillZerosTest : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(ResizeFillZerosTest, KeepsOldElementsAndZeroesNewOnes) {
    const ResizeCase& c = GetParam();
    Buf buf;
    SetValues(buf, c.start);
    DspUtils::ResizeFillZeros(buf, c.n);
    EXPECT_EQ(Values(buf), c.expect);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeFillZerosTest,
                         ::testing::Values(ResizeCase{{1, 2}, 4, {1, 2, 0, 0}},
                                           ResizeCase{{1, 2, 3}, 2, {1, 2}},
                                           ResizeCase{{}, 3, {0, 0, 0}},
                                           ResizeCase{{1, 2}, -1, {}}));

// Regrowing within the block must zero the tail even though the bytes are
// still there from before.
TEST(DspUtilsFill, ResizeFillZerosClearsStaleTail) {
    Buf buf;
    SetValues(buf, {1, 2, 3, 4});
    buf.Resize(1, false);
    DspUtils::ResizeFillZeros(buf, 4);
    EXPECT_EQ(Values(buf), (std::vector<double>{1, 0, 0, 0}));
}

TEST(DspUtilsAppend, CopiesIntoEmptyAndAppendsOtherwise) {
    Buf dst, src;
    SetValues(src, {1, 2});
    DspUtils::AppendValues(dst, src);
    EXPECT_EQ(Values(dst), (std::vector<double>{1, 2}));
    DspUtils::AppendValues(dst, src);
    EXPECT_EQ(Values(dst), (std::vector<double>{1, 2, 1, 2}));
    DspUtils::AppendValues(dst, dst); // self-append
    EXPECT_EQ(Values(dst), (std::vector<double>{1, 2, 1, 2, 1, 2, 1, 2}));
}

struct ConsumeCase {
    int n;
    std::vector<double> expect;
};

class ConsumeLeftTest : public ::testing::TestWithParam<ConsumeCase> {};

TEST_P(ConsumeLeftTest, RemovesFromTheFront) {
    Buf buf;
    SetValues(buf, {1, 2, 3, 4, 5});
    DspUtils::ConsumeLeft(buf, GetParam().n);
    EXPECT_EQ(Values(buf), GetParam().expect);
    if (GetParam().expect.empty()) {
        EXPECT_EQ(buf.GetHeapBuf().GetAllocated(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, ConsumeLeftTest,
                         ::testing::Values(ConsumeCase{0, {1, 2, 3, 4, 5}},
                                           ConsumeCase{-2, {1, 2, 3, 4, 5}},
                                           ConsumeCase{2, {3, 4, 5}}, ConsumeCase{4, {5}},
                                           ConsumeCase{5, {}}, ConsumeCase{9, {}}));

// Same allocation outcome as a copy-back with CopyFrom: a large buffer cut to a
// small rest shrinks its block, and nothing else is allocated on the way.
TEST(DspUtilsConsume, ShrinksLikeCopyBack) {
    Buf a, reference;
    a.Resize(100000);
    for (int i = 0; i < a.GetSize(); ++i) a[i] = i;
    reference.CopyFrom(a);

    Buf rest;
    rest.Set(reference.Get() + 99990, 10);
    reference.CopyFrom(rest);

    DspUtils::ConsumeLeft(a, 99990);
    ASSERT_EQ(a.GetSize(), 10);
    EXPECT_EQ(a.GetHeapBuf().GetAllocated(), reference.GetHeapBuf().GetAllocated());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a[i], 99990 + i);
}

// When the shrinking reallocation fails the moved elements must still end up
// as the buffer's contents, with the right count.
TEST(DspUtilsConsume, FailedShrinkKeepsTheRest) {
    Buf a;
    a.Resize(100000);
    for (int i = 0; i < a.GetSize(); ++i) a[i] = i;
    const int allocated = a.GetHeapBuf().GetAllocated();

    KIT_AllocHooks failing{};
    failing.malloc_fn = [](size_t) -> void* { return nullptr; };
    failing.realloc_fn = [](void*, size_t) -> void* { return nullptr; };
    KIT_SetAllocHooks(failing);
    DspUtils::ConsumeLeft(a, 99990);
    KIT_ResetAllocHooks();

    ASSERT_EQ(a.GetSize(), 10);
    EXPECT_EQ(a.GetHeapBuf().GetAllocated(), allocated);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a[i], 99990 + i);
}

TEST(DspUtilsTakeHalf, TruncatesBothKinds) {
    Buf d;
    SetValues(d, {1, 2, 3, 4, 5});
    DspUtils::TakeHalf(d);
    EXPECT_EQ(Values(d), (std::vector<double>{1, 2}));

    KIT_TypedBuf<ComplexValue> c;
    c.Resize(4);
    for (int i = 0; i < 4; ++i) c[i] = {double(i), -double(i)};
    DspUtils::TakeHalf(c);
    ASSERT_EQ(c.GetSize(), 2);
    EXPECT_EQ(c[1].re, 1.0);
    EXPECT_EQ(c[1].im, -1.0);
}

TEST(DspUtilsArithmetic, MultAbsClip) {
    Buf buf;
    SetValues(buf, {-2, 0.5, 3});
    DspUtils::MultValues(buf, 2.0);
    EXPECT_EQ(Values(buf), (std::vector<double>{-4, 1, 6}));
    DspUtils::MultValues(buf.Get(), 2, -1.0);
    EXPECT_EQ(Values(buf), (std::vector<double>{4, -1, 6}));
    DspUtils::ClipMin(buf, 0.0);
    EXPECT_EQ(Values(buf), (std::vector<double>{4, 0, 6}));
    SetValues(buf, {-3, 2});
    DspUtils::AbsValues(buf);
    EXPECT_EQ(Values(buf), (std::vector<double>{3, 2}));
}

struct InterpCase {
    double t;
    std::vector<double> expect;
};

class InterpTest : public ::testing::TestWithParam<InterpCase> {};

// b is longer than a: only a's count is used.
TEST_P(InterpTest, BlendsOverFirstInputsCount) {
    Buf a, b, out;
    SetValues(a, {0, 10, -4});
    SetValues(b, {1, 20, 4, 99});
    SetValues(out, {7, 7, 7, 7, 7});
    DspUtils::Interp(out, a, b, GetParam().t);
    EXPECT_EQ(Values(out), GetParam().expect);

    std::vector<double> raw(3);
    DspUtils::Interp(raw.data(), a.Get(), b.Get(), 3, GetParam().t);
    EXPECT_EQ(raw, GetParam().expect);

    KIT_TypedBuf<ComplexValue> ca, cb, cout;
    ca.Resize(3);
    cb.Resize(3);
    for (int i = 0; i < 3; ++i) {
        ca[i] = {a[i], -a[i]};
        cb[i] = {b[i], -b[i]};
    }
    DspUtils::Interp(cout, ca, cb, GetParam().t);
    ASSERT_EQ(cout.GetSize(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cout[i].re, GetParam().expect[static_cast<size_t>(i)]);
        EXPECT_EQ(cout[i].im, -GetParam().expect[static_cast<size_t>(i)]);
    }
}

INSTANTIATE_TEST_SUITE_P(Weights, InterpTest,
                         ::testing::Values(InterpCase{0.0, {0, 10, -4}},
                                           InterpCase{1.0, {1, 20, 4}},
                                           InterpCase{0.5, {0.5, 15, 0}}));

TEST(DspUtilsInterp, Interp2DMatchesNestedInterpAndAllowsAliasing) {
    Buf q0, q1, q2, q3;
    SetValues(q0, {0, 1});
    SetValues(q1, {10, 11});
    SetValues(q2, {100, 101});
    SetValues(q3, {1000, 1001});
    const double t0 = 0.25, t1 = 0.75;

    Buf u, v, expect;
    DspUtils::Interp(u, q0, q2, t0);
    DspUtils::Interp(v, q1, q3, t0);
    DspUtils::Interp(expect, u, v, t1);

    Buf out;
    DspUtils::Interp2D(out, q0, q1, q2, q3, t0, t1);
    EXPECT_EQ(Values(out), Values(expect));

    DspUtils::Interp2D(q0, q0, q1, q2, q3, t0, t1);
    EXPECT_EQ(Values(q0), Values(expect));
}

} // namespace
