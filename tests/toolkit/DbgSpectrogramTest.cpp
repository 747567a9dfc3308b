#include "toolkit/DbgSpectrogram.h"

#include "tests/toolkit/DebugFolderFixture.h"
#include "toolkit/DspUtilsScale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

KIT_TypedBuf<double> Column(const std::vector<double>& values) {
    KIT_TypedBuf<double> buf;
    buf.Set(values.data(), static_cast<int>(values.size()));
    return buf;
}

std::vector<double> Values(const DbgSpectrogram& s, int i) {
    KIT_TypedBuf<double> out;
    EXPECT_TRUE(s.GetLine(i, &out));
    return std::vector<double>(out.Get(), out.Get() + out.GetSize());
}

using DebugFolder = DebugFolderFixture;

TEST(DbgSpectrogram, PrefillsAndDropsTheOldestBeyondTheLimit) {
    DbgSpectrogram s(2, 3);
    ASSERT_EQ(s.GetNumColumns(), 3);
    EXPECT_EQ(Values(s, 0), (std::vector<double>{0, 0}));
    s.AddLine(Column({1, 2}));
    s.AddLine(Column({3, 4}));
    ASSERT_EQ(s.GetNumColumns(), 3);
    EXPECT_EQ(Values(s, 0), (std::vector<double>{0, 0}));
    EXPECT_EQ(Values(s, 1), (std::vector<double>{1, 2}));
    EXPECT_EQ(Values(s, 2), (std::vector<double>{3, 4}));
    KIT_TypedBuf<double> out;
    EXPECT_FALSE(s.GetLine(3, &out));
    EXPECT_FALSE(s.GetLine(-1, &out));

    for (int limit : {0, -1}) {
        DbgSpectrogram unlimited(2, limit);
        EXPECT_EQ(unlimited.GetNumColumns(), 0);
        for (int i = 0; i < 10; i++) unlimited.AddLine(Column({1, 1}));
        EXPECT_EQ(unlimited.GetNumColumns(), 10);
    }

    s.Reset();
    EXPECT_EQ(s.GetNumColumns(), 0);
    s.Reset(4, 2);
    EXPECT_EQ(s.GetHeight(), 4);
    EXPECT_EQ(s.GetMaxColumns(), 2);
    ASSERT_EQ(s.GetNumColumns(), 2);
    EXPECT_EQ(Values(s, 1).size(), 4u);
}

TEST(DbgSpectrogram, ShapesEachColumn) {
    DbgSpectrogram s(3, -1);
    s.AddLine(Column({1, 2})); // shorter than the height: ignored
    EXPECT_EQ(s.GetNumColumns(), 0);

    std::vector<double> ramp(30);
    for (int i = 0; i < 30; i++) ramp[i] = i + 1;
    s.AddLine(Column(ramp)); // decimated to 3 values
    ASSERT_EQ(s.GetNumColumns(), 1);
    EXPECT_EQ(Values(s, 0).size(), 3u);

    DbgSpectrogram db(3, -1);
    db.SetAmpDb(true);
    db.AddLine(Column({1.0, 1e-3, 0.0}));
    const std::vector<double> levels = Values(db, 0);
    EXPECT_NEAR(levels[0], 1.0, 1e-12);
    EXPECT_NEAR(levels[1], 0.5, 1e-9); // -60 dB on a -120..0 dB range
    EXPECT_EQ(levels[2], 0.0);

    DbgSpectrogram warped(4, -1);
    warped.SetYLogScale(true, 2.0);
    warped.AddLine(Column({1, 2, 3, 4}));
    KIT_TypedBuf<double> expect = Column({1, 2, 3, 4});
    DspUtils::WarpExpAxis(expect, 2.0);
    EXPECT_EQ(Values(warped, 0), std::vector<double>(expect.Get(), expect.Get() + 4));
}

TEST_F(DebugFolder, WritesGreyPicturesTopBinFirst) {
    DbgSpectrogram s(2, -1);
    s.SavePPM8("empty.ppm"); // no column: no file
    EXPECT_FALSE(Exists("empty.ppm"));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    s.AddLine(Column({0.5, 1.0}));
    s.AddLine(Column({-0.25, 2.0}));
    s.AddLine(Column({0.1, nan}));
    s.SavePPM8("a.ppm");
    // Values above 1 and NaN saturate; negative values are black.
    EXPECT_EQ(Contents("a.ppm"), "P3\n3 2\n255\n"
                                 "255 255 255\n255 255 255\n255 255 255\n\n"
                                 "127 127 127\n0 0 0\n25 25 25\n\n");
    s.SavePPM16("b.ppm");
    EXPECT_EQ(Contents("b.ppm").rfind("P3\n3 2\n65535\n65535 65535 65535\n", 0), 0u);

    s.SaveText("t");
    EXPECT_EQ(Contents("t-magns"), "0.5 1 \n-0.25 2 \n0.1 nan \n");
}

TEST_F(DebugFolder, ShorterColumnsAreBoundedByTheirOwnLength) {
    // 22 values decimated to a height of 15 leave 14 (the count rounds down),
    // one fewer than the pre-filled first column.
    DbgSpectrogram s(15, 2);
    std::vector<double> ones(22, 1.0);
    s.AddLine(Column(ones));
    ASSERT_EQ(Values(s, 1).size(), 14u);
    s.SavePPM8("short.ppm");
    std::istringstream in(Contents("short.ppm"));
    std::string magic;
    int width = 0, height = 0, max = 0;
    in >> magic >> width >> height >> max;
    ASSERT_EQ(magic, "P3");
    ASSERT_EQ(width, 2);
    ASSERT_EQ(height, 15);
    std::vector<int> px;
    int v;
    while (in >> v) px.push_back(v);
    ASSERT_EQ(px.size(), 2u * 15u * 3u);
    // Top row: the short column has no value there and is written black.
    EXPECT_EQ(px[3], 0);
    // The rows below carry its values.
    for (int row = 1; row < 15; row++) EXPECT_EQ(px[(row * 2 + 1) * 3], 255) << row;
}

} // namespace
