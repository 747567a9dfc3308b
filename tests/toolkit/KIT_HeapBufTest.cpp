#include "toolkit/KIT_HeapBuf.h"
#include "tests/support/AllocCounter.h"
#include "toolkit/KIT_Alloc.h"
#include "toolkit/KIT_String.h"
#include "toolkit/KIT_TypedBuf.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct GrowthCase {
    int granularity;
    int first;  // first resize
    int second; // then resize to this (-1: none)
    int expectAllocated;
};

class HeapBufGrowth : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(HeapBufGrowth, AllocatesByTheRule) {
    const GrowthCase c = GetParam();
    KIT_HeapBuf b(c.granularity);
    b.Resize(c.first);
    if (c.second >= 0) b.Resize(c.second);
    EXPECT_EQ(b.GetAllocated(), c.expectAllocated);
    EXPECT_EQ(b.GetSize(), c.second >= 0 ? c.second : c.first);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, HeapBufGrowth,
    ::testing::Values(GrowthCase{4096, 8, -1, 4000},            // small: one granule
                      GrowthCase{4096, 8, 5000, 8096},          // medium
                      GrowthCase{4096, 100000, -1, 147360},     // large
                      GrowthCase{4096, 10000000, -1, 14192544}, // g clamped to 4 MiB
                      GrowthCase{128, 2, -1, 130},              // string granularity
                      GrowthCase{128, 1, -1, 129}, GrowthCase{128, 2, 200, 328},
                      GrowthCase{4096, 8, 0, 0})); // resize to 0 frees

TEST(HeapBuf, ShrinkRule) {
    KIT_HeapBuf b;
    b.Resize(5000);
    ASSERT_EQ(b.GetAllocated(), 8096);
    b.Resize(10); // threshold min(4048, 8096-16384) -> 1: block kept
    EXPECT_EQ(b.GetAllocated(), 8096);
    EXPECT_EQ(b.GetSize(), 10);
    b.Resize(10); // same size never reallocates
    EXPECT_EQ(b.GetAllocated(), 8096);
    b.Resize(0);
    EXPECT_EQ(b.GetAllocated(), 0);
    EXPECT_EQ(b.Get(), nullptr);
}

TEST(HeapBuf, GetIsNullWhileUsedSizeIsZero) {
    KIT_HeapBuf b;
    b.Resize(100);
    b.Resize(0, false);
    EXPECT_GT(b.GetAllocated(), 0);
    EXPECT_EQ(b.Get(), nullptr);
}

TEST(HeapBuf, OversizeRequestIsAFailure) {
    KIT_HeapBuf b;
    b.Resize(16);
    void* before = b.Get();
    EXPECT_EQ(b.Resize(int64_t(INT_MAX) + 1), before);
    EXPECT_EQ(b.GetSize(), 16);
    b.Resize(INT_MAX - 10); // growth would pass INT_MAX: failure too
    EXPECT_EQ(b.GetSize(), 16);
}

TEST(HeapBuf, ExactCopyTakesConfiguration) {
    KIT_HeapBuf src(256);
    src.Resize(300);
    std::memset(src.Get(), 7, 300);
    KIT_HeapBuf dst;
    dst.CopyFrom(src, true);
    EXPECT_EQ(dst.GetAllocated(), src.GetAllocated());
    EXPECT_EQ(dst.GetGranularity(), 256);
    EXPECT_EQ(std::memcmp(dst.Get(), src.Get(), 300), 0);
    dst.CopyFrom(dst, true); // onto itself: unchanged
    EXPECT_EQ(dst.GetSize(), 300);
    EXPECT_EQ(static_cast<char*>(dst.Get())[299], 7);
}

// Allocation failure injection: while gFail is set every allocation fails.
bool gFail = false;
void* FailingMalloc(size_t n) {
    return gFail ? nullptr : std::malloc(n);
}
void* FailingRealloc(void* p, size_t n) {
    return gFail ? nullptr : std::realloc(p, n);
}

class AllocFailure : public ::testing::Test {
protected:
    void SetUp() override {
        gFail = false;
        KIT_SetAllocHooks({&FailingMalloc, &FailingRealloc, nullptr});
    }
    void TearDown() override {
        gFail = false;
        KIT_ResetAllocHooks();
    }
};

TEST_F(AllocFailure, LeavesEverythingUntouched) {
    KIT_TypedBuf<double> b;
    const double v[3] = {1, 2, 3};
    ASSERT_NE(b.Set(v, 3), nullptr);
    const int allocated = b.GetHeapBuf().GetAllocated();
    const double* data = b.Get();
    KIT_TypedBuf<double> big;
    big.Resize(100000);

    gFail = true;
    EXPECT_EQ(b.Add(nullptr, 10000), nullptr);
    EXPECT_EQ(b.Set(nullptr, 10000), nullptr);
    EXPECT_EQ(b.Resize(10000), data); // the old pointer
    EXPECT_EQ(b.GetSize(), 3);
    EXPECT_EQ(b.GetHeapBuf().GetAllocated(), allocated);
    EXPECT_EQ(b.Get(), data);
    EXPECT_EQ(b[0] + b[1] + b[2], 6.0);

    b.CopyFrom(big); // cannot allocate: destination emptied
    EXPECT_EQ(b.GetSize(), 0);
    KIT_HeapBuf exact;
    exact.CopyFrom(big.GetHeapBuf(), true);
    EXPECT_EQ(exact.Get(), nullptr);
    EXPECT_EQ(exact.GetAllocated(), 0);
}

TEST_F(AllocFailure, InsertAndStringEditsKeepContents) {
    KIT_TypedBuf<double> b;
    b.GetHeapBuf().SetGranularity(1);
    const double v[2] = {1, 2};
    b.Set(v, 2);
    b.Resize(b.GetHeapBuf().GetAllocated() / 8, false); // fill the block
    const int n = b.GetSize();
    gFail = true;
    EXPECT_EQ(b.Insert(0, 9.0), nullptr);
    EXPECT_EQ(b.GetSize(), n);
    EXPECT_EQ(b[0], 1.0);

    gFail = false;
    KIT_String s("abc");
    gFail = true;
    s.Append(std::string(1000, 'x').c_str());
    EXPECT_STREQ(s.Get(), "abc");
    EXPECT_EQ(s.GetHeapBuf().GetSize(), 4);
}

TEST(TypedBuf, SetAddInsert) {
    KIT_TypedBuf<double> b;
    EXPECT_EQ(b.Set(nullptr, 0), nullptr);
    EXPECT_EQ(b.GetSize(), 0);
    EXPECT_EQ(b.Set(nullptr, -1), nullptr);
    ASSERT_NE(b.Set(nullptr, 3), nullptr);
    EXPECT_EQ(b[0] + b[1] + b[2], 0.0);
    EXPECT_NE(b.Insert(3, 5.0), nullptr); // at count: appends
    EXPECT_EQ(b[3], 5.0);
    EXPECT_EQ(b.Insert(5, 1.0), nullptr); // beyond count
    EXPECT_EQ(b.Add(nullptr, 0), nullptr);
    b.Add(b.Get() + 3, 1); // source inside the block
    EXPECT_EQ(b.GetSize(), 5);
    EXPECT_EQ(b[4], 5.0);
}

TEST(String, SetAppendDelete) {
    KIT_String s;
    EXPECT_EQ(s.GetHeapBuf().GetSize(), 0);
    EXPECT_STREQ(s.Get(), "");
    s.Append("");
    EXPECT_EQ(s.GetHeapBuf().GetSize(), 1);
    s.Set("abcdef", 3);
    EXPECT_STREQ(s.Get(), "abc");
    EXPECT_EQ(s.GetHeapBuf().GetSize(), 4);
    s.Set("ab", 10);
    EXPECT_STREQ(s.Get(), "ab");
    s.Set(nullptr);
    EXPECT_EQ(s.GetHeapBuf().GetSize(), 1);
    s.Set("hello");
    s.Append("");
    EXPECT_STREQ(s.Get(), "hello");
    s.DeleteSub(1, 100);
    EXPECT_STREQ(s.Get(), "h");
    EXPECT_EQ(s.GetHeapBuf().GetSize(), 2);
    KIT_String empty;
    empty.DeleteSub(0, 1);
    EXPECT_EQ(empty.GetHeapBuf().GetSize(), 0);
}

TEST(String, SelfAppendWhileGrowing) {
    KIT_String s("0123456789");
    for (int i = 0; i < 12; ++i) s.Append(s.Get() + 1, 5); // block moves several times
    EXPECT_EQ(s.GetLength(), 10 + 12 * 5);
    EXPECT_EQ(std::string(s.Get()).substr(10, 5), "12345");
    KIT_String t("abcdef");
    t.SetAt(1, t.Get() + 3, 2, 0);
    EXPECT_STREQ(t.Get(), "ade");
}

TEST(TypedBuf, ResizeWithinAllocationDoesNotAllocate) {
    KIT_TypedBuf<double> b;
    b.Resize(1000);
    testsupport::AllocCounter counter;
    for (int i = 0; i < 100; ++i) b.Resize(i % 2 ? 900 : 1000);
    EXPECT_EQ(counter.Count(), 0);
    b.Resize(100000);
    EXPECT_EQ(counter.Count(), 1);
}

} // namespace
