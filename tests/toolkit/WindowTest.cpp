#include "toolkit/Window.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

KIT_TypedBuf<double> HannPow(int n, double p) {
    KIT_TypedBuf<double> w;
    Window::MakeHanningPow(n, w, p);
    return w;
}

struct ColaCase {
    int n;
    double power; // Hann raised to this
    int overlapping;
    double gain; // -1: the check fails
};

class WindowCola : public ::testing::TestWithParam<ColaCase> {};

TEST_P(WindowCola, GivesTheOverlapAddGain) {
    const ColaCase c = GetParam();
    EXPECT_NEAR(Window::CheckCOLA(HannPow(c.n, c.power), c.overlapping), c.gain, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(HannWindows, WindowCola,
                         ::testing::Values(ColaCase{2048, 1, 4, 1.9990234375},
                                           ColaCase{2048, 2, 4, 1.499267578125},
                                           ColaCase{2048, 1, 2, 0.99951171875},
                                           ColaCase{2048, 2, 2, -1}, ColaCase{256, 1, 4, -1},
                                           ColaCase{256, 2, 4, 1.494140625},
                                           ColaCase{8, 1, 0, -1},  // no hop
                                           ColaCase{8, 1, 9, -1},  // hop of 0
                                           ColaCase{0, 1, 4, -1},  // empty window
                                           ColaCase{8, 0, 8, 8})); // all ones, hop 1

TEST(Window, MakersFollowTheirFormulas) {
    const double pi = 3.141592653589793;
    KIT_TypedBuf<double> hann, pow3, flat;
    Window::MakeHanning(9, hann);
    Window::MakeHanningPow(9, pow3, 3.0);
    Window::MakeConstWindow(9, flat, 0.25);
    ASSERT_EQ(hann.GetSize(), 9);
    ASSERT_EQ(pow3.GetSize(), 9);
    ASSERT_EQ(flat.GetSize(), 9);
    for (int i = 0; i < 9; ++i) {
        const double h = 0.5 * (1 - std::cos(2 * pi * i / 8));
        EXPECT_DOUBLE_EQ(hann[i], h);
        EXPECT_NEAR(pow3[i], h * h * h, 1e-15);
        EXPECT_EQ(flat[i], 0.25);
    }
    EXPECT_EQ(hann[0], 0.0);
    EXPECT_EQ(hann[4], 1.0);
    EXPECT_EQ(hann[8], 0.0);
}

TEST(Window, DegenerateLengths) {
    for (int n : {0, -3}) {
        KIT_TypedBuf<double> a, b, c;
        a.Resize(5);
        Window::MakeHanning(n, a);
        Window::MakeHanningPow(n, b, 2.0);
        Window::MakeConstWindow(n, c, 1.0);
        EXPECT_EQ(a.GetSize(), 0);
        EXPECT_EQ(b.GetSize(), 0);
        EXPECT_EQ(c.GetSize(), 0);
    }
    // One sample: the centre of the window, not 0/0.
    KIT_TypedBuf<double> one;
    Window::MakeHanningPow(1, one, 2.0);
    ASSERT_EQ(one.GetSize(), 1);
    EXPECT_EQ(one[0], 1.0);
}

TEST(Window, NormalizeDividesByTheGainOnlyWhenTheCheckPasses) {
    KIT_TypedBuf<double> w = HannPow(2048, 2.0);
    const double mid = w[1024];
    EXPECT_EQ(Window::NormalizeWindowCOLA(w, 4), Window::CheckCOLA(HannPow(2048, 2.0), 4));
    EXPECT_DOUBLE_EQ(w[1024], mid / 1.499267578125);
    EXPECT_NEAR(Window::CheckCOLA(w, 4), 1.0, 1e-12);

    KIT_TypedBuf<double> failing = HannPow(2048, 2.0);
    EXPECT_EQ(Window::NormalizeWindowCOLA(failing, 2), -1.0);
    EXPECT_EQ(failing[1024], mid); // not divided by -1

    Window::ScaleWindow(failing, 4.0);
    EXPECT_EQ(failing[1024], mid / 4.0);
}

} // namespace
