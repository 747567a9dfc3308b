#include "toolkit/DebugDump.h"

#include "tests/toolkit/DebugFolderFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

using DebugDump = DebugFolderFixture;

TEST_F(DebugDump, TextLinesAreAppended) {
    DumpText("log.txt", "dump: 1/2");
    DumpText("log.txt", "ok");
    EXPECT_EQ(Contents("log.txt"), "dump: 1/2\nok\n");
}

TEST_F(DebugDump, ValueDumpsWriteOrAppendBlankSeparatedNumbers) {
    const double d[3] = {1.5, -2, 1e-7};
    const int ints[2] = {7, -3};
    const int16_t shorts[2] = {-32768, 12};
    KIT_TypedBuf<double> buf;
    buf.Set(d, 2);

    DumpData("w.txt", d, 3);
    DumpData("w.txt", d, 2); // replaces
    DumpDataAppend("a.txt", d, 1);
    DumpDataAppend("a.txt", d + 1, 2);
    DumpData("buf.txt", buf);
    DumpData("ints.txt", ints, 2);
    DumpData("shorts.txt", shorts, 2);
    DumpValue("one.txt", 3.25, false);
    DumpValue("one.txt", 4, true);
    DumpIntAppend("int.txt", 5);
    DumpIntAppend("int.txt", 6);

    EXPECT_EQ(Contents("w.txt"), "1.5 -2 ");
    EXPECT_EQ(Contents("a.txt"), "1.5 -2 1e-07 ");
    EXPECT_EQ(Contents("buf.txt"), "1.5 -2 ");
    EXPECT_EQ(Contents("ints.txt"), "7 -3 ");
    EXPECT_EQ(Contents("shorts.txt"), "-32768 12 ");
    EXPECT_EQ(Contents("one.txt"), "3.25 4 ");
    EXPECT_EQ(Contents("int.txt"), "5 6 ");
}

TEST_F(DebugDump, RowsComplexAndPhases) {
    const double grid[6] = {1, 2, 3, 4, 5, 6};
    DumpData2D("grid.txt", grid, 3, 2);
    EXPECT_EQ(Contents("grid.txt"), "1 2 3 \n4 5 6 \n");

    const ComplexValue c[2] = {{3, 4}, {0, -1}};
    DumpComplex("m.txt", "p.txt", c, 2);
    EXPECT_EQ(Contents("m.txt"), "5 1 ");
    EXPECT_EQ(Contents("p.txt"), "0.927295 -1.5708 ");

    const double magns[2] = {0.5, 2}, phases[2] = {0.25, -1};
    DumpMagnPhase("mm.txt", "pp.txt", magns, phases, 2);
    EXPECT_EQ(Contents("mm.txt"), "0.5 2 ");
    EXPECT_EQ(Contents("pp.txt"), "0.25 -1 ");
}

TEST_F(DebugDump, UnwrappedPhasesNeverDecrease) {
    // Values far below their predecessor need many turns at once.
    const double phases[5] = {3.0, -3.0, 1.0, -1e6, 0.5};
    DumpPhasesUnwrapped("u.txt", phases, 5);
    double back[5] = {};
    ASSERT_EQ(ReadData("u.txt", back, 5), 5);
    EXPECT_EQ(back[0], 3.0);
    for (int i = 1; i < 5; ++i) {
        EXPECT_GE(back[i], back[i - 1] - 1e-5) << i; // "%g" keeps 6 digits
        const double turns = (back[i] - phases[i]) / (2 * kPi);
        EXPECT_NEAR(turns, std::round(turns), 1e-3 * std::fabs(turns) + 1e-4) << i;
    }
    EXPECT_NEAR(back[1], -3.0 + 2 * kPi, 1e-5);
    DumpPhasesUnwrapped("none.txt", phases, 0);
    EXPECT_FALSE(Exists("none.txt"));
}

TEST_F(DebugDump, ReadsBackWhatWasDumped) {
    const double d[4] = {0.125, -8, 1e10, 3};
    DumpData("r.txt", d, 4);
    double back[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ReadData("r.txt", back, 6), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(back[i], d[i]);
    EXPECT_EQ(back[4], 9) << "elements past the file are untouched";
    EXPECT_EQ(ReadData("missing.txt", back, 6), 0);
}

// Without the folder, or without HOME, or with a name too long for the path
// buffer, nothing is written and nothing crashes.
TEST_F(DebugDump, UnopenableFilesAreSkipped) {
    const double d[1] = {1};
    const std::string longName(600, 'x');
    DumpText(longName.c_str(), "lost");
    DumpData(longName.c_str(), d, 1);
    char path[512];
    EXPECT_FALSE(MakeDebugDumpPath(longName.c_str(), path, sizeof path));
    EXPECT_TRUE(MakeDebugDumpPath("a.txt", path, sizeof path));
    EXPECT_EQ(std::string(path), Folder() + "/a.txt");

    setenv("HOME", (mHome + "/nowhere").c_str(), 1);
    DumpText("t.txt", "lost");
    DumpData("d.txt", d, 1);
    DumpComplex("m.txt", "p.txt", nullptr, 3);
    double back[1];
    EXPECT_EQ(ReadData("d.txt", back, 1), 0);
    unsetenv("HOME");
    DumpText("t.txt", "lost");
    EXPECT_FALSE(MakeDebugDumpPath("t.txt", path, sizeof path));
    setenv("HOME", mHome.c_str(), 1);
    EXPECT_FALSE(Exists("t.txt"));
    EXPECT_FALSE(Exists("d.txt"));
}

} // namespace
