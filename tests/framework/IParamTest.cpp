#include "framework/IParam.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr double kLevelShape = 0.13750352374993496;

TEST(IParam, NewParameterHasDefaults) {
    IParam p;
    EXPECT_EQ(p.Type(), IParam::kTypeNone);
    EXPECT_EQ(p.Value(), 0.0);
    EXPECT_EQ(p.GetMin(), 0.0);
    EXPECT_EQ(p.GetMax(), 1.0);
    EXPECT_EQ(p.GetStep(), 1.0);
    EXPECT_EQ(p.GetShape(), 1.0);
    EXPECT_EQ(p.GetDisplayPrecision(), 0);
    EXPECT_STREQ(p.GetName(), "");
    EXPECT_STREQ(p.GetLabel(), "");
    EXPECT_TRUE(p.GetCanAutomate());
    EXPECT_FALSE(p.GetIsMeta());
    EXPECT_EQ(p.GetNumDisplayTexts(), 0);
}

struct InitCase {
    double min, max, step;
    double expectedMax;
    int expectedPrecision;
};

class IParamInitDouble : public ::testing::TestWithParam<InitCase> {};

TEST_P(IParamInitDouble, MaxRuleAndPrecisionFromStep) {
    const InitCase& c = GetParam();
    IParam p;
    p.InitDouble("x", c.min, c.min, c.max, c.step);
    EXPECT_EQ(p.GetMax(), c.expectedMax);
    EXPECT_EQ(p.GetDisplayPrecision(), c.expectedPrecision);
    EXPECT_EQ(p.Type(), IParam::kTypeDouble);
}

INSTANTIATE_TEST_SUITE_P(Steps, IParamInitDouble,
                         ::testing::Values(InitCase{0, 0, 1, 1, 0},        // min + step wins
                                           InitCase{0, 10, 1, 10, 0},      //
                                           InitCase{0, 10, 0.1, 10, 1},    //
                                           InitCase{0, 10, 0.01, 10, 2},   //
                                           InitCase{0, 10, 0.25, 10, 2},   //
                                           InitCase{0, 10, 1e-9, 10, 6},   // capped
                                           InitCase{-120, 12, 0.1, 12, 1}, //
                                           InitCase{5, 2, 0.5, 5.5, 1}));  // max below min

TEST(IParam, InitKeepsFirstTypeAndCopiesTexts) {
    IParam b;
    b.InitBool("Bypass", true, "sw", "grp");
    EXPECT_EQ(b.Type(), IParam::kTypeBool);
    EXPECT_EQ(b.Value(), 1.0);
    EXPECT_EQ(b.GetMax(), 1.0);
    EXPECT_STREQ(b.GetName(), "Bypass");
    EXPECT_STREQ(b.GetLabel(), "sw");
    EXPECT_STREQ(b.GetGroup(), "grp");
    EXPECT_STREQ(b.GetDisplayTextForValue(0), "off");
    EXPECT_STREQ(b.GetDisplayTextForValue(1), "on");

    IParam e;
    e.InitEnum("Mode", 2, 4);
    EXPECT_EQ(e.Type(), IParam::kTypeEnum);
    EXPECT_EQ(e.GetMax(), 3.0);

    // Texts of 32 bytes or more are cut to 31.
    IParam l;
    const std::string longName(40, 'n');
    l.InitDouble(longName.c_str(), 0, 0, 1, 0.1, nullptr, nullptr);
    EXPECT_EQ(std::string(l.GetName()), std::string(31, 'n'));
    EXPECT_STREQ(l.GetLabel(), "");
}

struct NormCase {
    const char* what;
    bool isInt;
    double min, max, shape;
    double normalized;
    double expectedValue;
};

class IParamSetNormalized : public ::testing::TestWithParam<NormCase> {};

TEST_P(IParamSetNormalized, MapsThroughShapeAndRounds) {
    const NormCase& c = GetParam();
    IParam p;
    if (c.isInt)
        p.InitInt("i", 0, static_cast<int>(c.min), static_cast<int>(c.max));
    else
        p.InitDouble("d", c.min, c.min, c.max, 0.001, "", "", c.shape);
    p.SetNormalized(c.normalized);
    EXPECT_NEAR(p.Value(), c.expectedValue, 1e-12) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IParamSetNormalized,
    ::testing::Values(NormCase{"int top", true, 0, 10, 1, 1.0, 10},
                      NormCase{"int rounds down", true, 0, 10, 1, 0.04, 0},
                      NormCase{"int rounds up", true, 0, 10, 1, 0.06, 1},
                      NormCase{"int above max clamps", true, 0, 10, 1, 1.5, 10},
                      NormCase{"no lower clamp", false, 0, 1, 1, -0.5, -0.5},
                      NormCase{"double above max", false, 0, 1, 1, 2.0, 1.0},
                      NormCase{"shape 2", false, 0, 8, 2, 0.5, 2.0},
                      NormCase{"level centre", false, -120, 12, kLevelShape, 0.5, 0.0},
                      NormCase{"level bottom", false, -120, 12, kLevelShape, 0.0, -120},
                      NormCase{"level top", false, -120, 12, kLevelShape, 1.0, 12}));

TEST(IParam, NormalisedRoundTripsAndClamps) {
    for (double shape : {1.0, 2.0, 0.5, kLevelShape}) {
        IParam p;
        p.InitDouble("d", 0, -120, 12, 0.1, "dB", "", shape);
        for (double n : {0.0, 0.1, 0.25, 0.5, 0.75, 1.0}) {
            p.SetNormalized(n);
            EXPECT_NEAR(p.GetNormalized(), n, 1e-12) << "shape " << shape << " n " << n;
            EXPECT_NEAR(p.GetNonNormalized(n), p.Value(), 1e-12);
        }
        EXPECT_EQ(p.GetNormalized(100.0), 1.0);
        EXPECT_EQ(p.GetNormalized(-1000.0), 0.0);
    }
    IParam p;
    p.InitDouble("d", 0, 0, 8, 0.1, "", "", 2.0);
    p.SetShape(0.0);
    EXPECT_EQ(p.GetShape(), 2.0);
    // GetNonNormalized neither rounds nor clamps.
    IParam i;
    i.InitInt("i", 0, 0, 10);
    EXPECT_DOUBLE_EQ(i.GetNonNormalized(0.04), 0.4);
    EXPECT_DOUBLE_EQ(i.GetNonNormalized(1.5), 15.0);
}

TEST(IParam, LevelParameterShowsZeroDecibelsAtCentre) {
    IParam p;
    p.InitDouble("Vocal", 0, -120, 12, 0.1, "dB");
    p.SetShape(kLevelShape);
    EXPECT_NEAR(p.GetNonNormalized(0.5), 0.0, 1e-9);
    char text[32];
    p.GetDisplayForHost(0.0, false, text, sizeof text);
    EXPECT_STREQ(text, "0.0");
    p.GetDisplayForHost(1.0, true, text, sizeof text);
    EXPECT_STREQ(text, "12.0");
    p.GetDisplayForHost(0.0, true, text, sizeof text);
    EXPECT_STREQ(text, "-120.0");
}

TEST(IParam, DBToAmp) {
    struct {
        double db, amp, tolerance;
    } cases[] = {{-120, 1e-6, 1e-12}, {12, 3.981, 1e-3}, {0, 1.0, 0.0}, {-6, 0.501, 1e-3}};
    for (const auto& c : cases) {
        IParam p;
        p.InitDouble("g", 0, -120, 12, 0.1);
        p.Set(c.db);
        EXPECT_NEAR(p.DBToAmp(), c.amp, c.tolerance) << c.db << " dB";
    }
}

struct DisplayCase {
    const char* what;
    double value;
    bool normalized;
    bool withDisplayText;
    const char* expected;
};

class IParamDisplay : public ::testing::TestWithParam<DisplayCase> {
protected:
    // 0..4 in steps of 1, texts for 1 ("on") and 2 (empty text, falls back).
    void SetUp() override {
        mInt.InitInt("i", 0, 0, 4, "u");
        mInt.SetDisplayText(1, "on");
        mInt.SetDisplayText(2, "");
        mInt.SetDisplayText(1, "second");
    }
    IParam mInt;
};

TEST_P(IParamDisplay, FormatsForHost) {
    const DisplayCase& c = GetParam();
    char out[32];
    std::memset(out, 'x', sizeof out);
    mInt.GetDisplayForHost(c.value, c.normalized, out, sizeof out, c.withDisplayText);
    EXPECT_STREQ(out, c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IParamDisplay,
    ::testing::Values(DisplayCase{"text wins", 1.0, false, true, "on"},
                      DisplayCase{"text truncated toward zero", 1.9, false, true, "on"},
                      DisplayCase{"no text asked", 1.0, false, false, "1"},
                      DisplayCase{"empty text falls back", 2.0, false, true, "2"},
                      DisplayCase{"normalised input", 0.75, true, true, "3"},
                      DisplayCase{"negative truncates", -2.7, false, true, "-2"},
                      DisplayCase{"huge clamps to int", 1e30, false, true, "2147483647"},
                      DisplayCase{"huge negative", -1e30, false, false, "-2147483648"},
                      DisplayCase{"nan", NAN, false, false, "0"}));

TEST(IParam, HostDisplayIsBoundedByBuffer) {
    IParam p;
    p.InitDouble("d", 0, 0, 1, 1e-6);
    char out[40];
    std::memset(out, 'x', sizeof out);
    // 1e30 with six decimals needs 38 bytes; only the first 32 may be written.
    p.GetDisplayForHost(1e30, false, out, 32);
    EXPECT_EQ(std::strlen(out), 31u);
    EXPECT_EQ(std::string(out), std::string("1000000000000000019884624838656"));
    EXPECT_EQ(out[32], 'x');
    p.GetDisplayForHost(0.5, false, out, 1);
    EXPECT_STREQ(out, "");
    p.GetDisplayForHost(0.5, false, nullptr, 32); // no crash

    p.SetNegateDisplay(true);
    p.GetDisplayForHost(0.25, false, out, sizeof out);
    EXPECT_STREQ(out, "-0.250000");
}

TEST(IParam, DisplayTextLookups) {
    IParam p;
    p.InitEnum("Mode", 0, 3, "lbl");
    p.SetDisplayText(0, "Soft");
    p.SetDisplayText(2, "Hard");
    p.SetDisplayText(0, "Again");

    EXPECT_EQ(p.GetNumDisplayTexts(), 3);
    int value = -1;
    EXPECT_STREQ(p.GetDisplayTextAtIndex(1, &value), "Hard");
    EXPECT_EQ(value, 2);
    EXPECT_STREQ(p.GetDisplayTextAtIndex(0, nullptr), "Soft");
    value = -1;
    EXPECT_STREQ(p.GetDisplayTextAtIndex(3, &value), "");
    EXPECT_STREQ(p.GetDisplayTextAtIndex(-1, &value), "");
    EXPECT_EQ(value, -1);

    EXPECT_TRUE(p.FindDisplayTextValue("Hard", &value));
    EXPECT_EQ(value, 2);
    EXPECT_FALSE(p.FindDisplayTextValue("hard", &value));
    EXPECT_FALSE(p.FindDisplayTextValue(nullptr, &value));
    EXPECT_STREQ(p.GetDisplayTextForValue(0), "Soft");
    EXPECT_STREQ(p.GetDisplayTextForValue(1), "");

    p.Set(0.0);
    EXPECT_STREQ(p.GetDisplayLabel(), "");
    p.Set(1.0);
    EXPECT_STREQ(p.GetDisplayLabel(), "lbl");

    double lo = 0, hi = 0;
    p.GetBounds(&lo, &hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 2.0);
}

} // namespace
