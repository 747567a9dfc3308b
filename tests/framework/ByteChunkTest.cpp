#include "framework/ByteChunk.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

TEST(ByteChunk, ValuesRoundTripInMemoryOrder) {
    ByteChunk chunk;
    const double d = -1.25;
    const int32_t n = 0x01020304;
    EXPECT_EQ(chunk.Put(&d), 8);
    EXPECT_EQ(chunk.Put(&n), 12);
    EXPECT_EQ(chunk.PutBool(true), 13);
    EXPECT_EQ(chunk.PutStr("abc"), 20);
    EXPECT_EQ(chunk.GetBytes()[8], 0x04); // little-endian int

    double d2 = 0;
    int32_t n2 = 0;
    bool b = false;
    char text[8] = "zzzzzzz";
    int pos = chunk.Get(&d2, 0);
    pos = chunk.Get(&n2, pos);
    pos = chunk.GetBool(&b, pos);
    pos = chunk.GetStr(text, sizeof text, pos);
    EXPECT_EQ(pos, chunk.Size());
    EXPECT_EQ(d2, d);
    EXPECT_EQ(n2, n);
    EXPECT_TRUE(b);
    EXPECT_STREQ(text, "abc");

    ByteChunk copy;
    copy.PutChunk(chunk);
    copy.PutChunk(copy); // appending itself doubles it
    ASSERT_EQ(copy.Size(), 2 * chunk.Size());
    EXPECT_EQ(std::memcmp(copy.GetBytes() + chunk.Size(), chunk.GetBytes(), 20), 0);

    chunk.Clear();
    EXPECT_EQ(chunk.Size(), 0);
    EXPECT_EQ(chunk.Get(&d2, 0), -1);
}

TEST(ByteChunk, RefusesReadsOutsideTheChunk) {
    ByteChunk chunk;
    const double d = 3.0;
    chunk.Put(&d);
    char buf[16];
    struct {
        int size, pos;
    } bad[] = {{8, 1}, {9, 0}, {-1, 0}, {1, -1}, {INT_MAX, 1}, {1, INT_MAX}, {8, -8}};
    for (const auto& c : bad)
        EXPECT_EQ(chunk.GetBytes(buf, c.size, c.pos), -1) << c.size << "@" << c.pos;
    EXPECT_EQ(chunk.GetBytes(buf, 8, 0), 8);
    EXPECT_EQ(chunk.GetBytes(buf, 0, 8), 8);
    EXPECT_EQ(chunk.PutBytes(buf, -1), 0);
    EXPECT_EQ(chunk.PutBytes(nullptr, 4), 0);
    EXPECT_EQ(chunk.Size(), 8);
}

TEST(ByteChunk, StringCountsAreChecked) {
    struct {
        const char* what;
        int32_t count;
        int bytesAfter;
    } cases[] = {{"negative", -4, 8}, {"too long", 9, 8}, {"huge", INT32_MAX, 8}};
    for (const auto& c : cases) {
        ByteChunk chunk;
        chunk.Put(&c.count);
        const char bytes[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
        chunk.PutBytes(bytes, c.bytesAfter);
        char out[4] = "xyz";
        EXPECT_EQ(chunk.GetStr(out, sizeof out, 0), -1) << c.what;
        EXPECT_STREQ(out, "xyz") << c.what;
    }
    // A string longer than the output is cut but consumed whole.
    ByteChunk chunk;
    chunk.PutStr("long name");
    chunk.PutBool(false);
    char out[5];
    const int pos = chunk.GetStr(out, sizeof out, 0);
    EXPECT_STREQ(out, "long");
    EXPECT_EQ(pos, 4 + 9);
    bool flag = true;
    EXPECT_EQ(chunk.GetBool(&flag, pos), pos + 1);
    EXPECT_FALSE(flag);
}

} // namespace
