#include "toolkit/PpmImage.h"

#include "tests/toolkit/DebugFolderFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

class PpmImageTest : public DebugFolderFixture {
protected:
    // Writes raw bytes as a file of the temporary folder; returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = Path(name);
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
};

std::string Samples8(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s.push_back(static_cast<char>((i * 37 + 11) & 0xff));
    return s;
}

uint16_t Value16(int i) {
    return static_cast<uint16_t>(i * 4099 + 513);
}

std::string Samples16(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
        s.push_back(static_cast<char>(Value16(i) >> 8));
        s.push_back(static_cast<char>(Value16(i) & 0xff));
    }
    return s;
}

// A P6 file of known samples read back: what was written comes out, in
// either sample size, with or without comment lines, in several shapes.
struct ImageCase {
    bool sixteen;
    int width, height;
    const char* comments; // lines between the magic and the size
};

class PpmReadsBack : public PpmImageTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(PpmReadsBack, EverySample) {
    const ImageCase c = GetParam();
    const int samples = c.width * c.height * 3;
    const std::string header = std::string("P6\n") + c.comments + std::to_string(c.width) + " " +
                               std::to_string(c.height) + (c.sixteen ? "\n65535\n" : "\n255\n");
    const std::string pixels = c.sixteen ? Samples16(samples) : Samples8(samples);
    const std::string path = WriteFile("img.ppm", header + pixels);
    std::unique_ptr<PpmImage, void (*)(PpmImage*)> image(
        c.sixteen ? PpmReadRgb16(path.c_str()) : PpmReadRgb8(path.c_str()), PpmFree);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    if (c.sixteen) {
        EXPECT_EQ(image->data8, nullptr);
        ASSERT_NE(image->data16, nullptr);
        for (int i = 0; i < samples; ++i) ASSERT_EQ(image->data16[i], Value16(i)) << i;
    } else {
        EXPECT_EQ(image->data16, nullptr);
        ASSERT_NE(image->data8, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->data8), pixels.size()), pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, PpmReadsBack,
                         ::testing::Values(ImageCase{false, 5, 3, "# made by hand\n# twice\n"},
                                           ImageCase{false, 1, 1, ""},
                                           ImageCase{false, 7, 1, "#\n"}, ImageCase{true, 4, 2, ""},
                                           ImageCase{true, 1, 9, "# 16-bit\n"}));

struct BadHeader {
    const char* what;
    std::string bytes;
    bool sixteen; // which reader
};

class PpmRejects : public PpmImageTest, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(PpmRejects, MalformedFiles) {
    const BadHeader c = GetParam();
    const std::string path = WriteFile("bad.ppm", c.bytes);
    PpmImage* image = c.sixteen ? PpmReadRgb16(path.c_str()) : PpmReadRgb8(path.c_str());
    EXPECT_EQ(image, nullptr) << c.what;
    PpmFree(image);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PpmRejects,
    ::testing::Values(
        BadHeader{"empty file", "", false},
        BadHeader{"text format", "P3\n1 1\n255\n0 0 0\n", false},
        BadHeader{"no size", "P6\n#only a comment", false},
        BadHeader{"zero width", "P6\n0 4\n255\n", false},
        BadHeader{"negative height", "P6\n4 -1\n255\n" + Samples8(12), false},
        BadHeader{"pixel count overflow", "P6\n65536 65536\n255\n", false},
        BadHeader{"huge row", "P6\n2147483647 1\n65535\n", true},
        BadHeader{"no maximum", "P6\n1 1\n", false},
        BadHeader{"16-bit file to the 8-bit reader", "P6\n1 1\n65535\n" + Samples16(3), false},
        BadHeader{"8-bit file to the 16-bit reader", "P6\n1 1\n255\n" + Samples8(3), true},
        BadHeader{"short pixel data", "P6\n3 3\n255\n" + Samples8(26), false},
        BadHeader{"short 16-bit data", "P6\n1 2\n65535\n" + Samples16(5), true}));

TEST_F(PpmImageTest, MissingFileIsNull) {
    EXPECT_EQ(PpmReadRgb8((Folder() + "/none.ppm").c_str()), nullptr);
    EXPECT_EQ(PpmReadRgb16(nullptr), nullptr);
}

TEST_F(PpmImageTest, DumpWritesGreyPixelsFromOneChannel) {
    const double data[4] = {0.0, 0.5, 1.0, 2.0}; // 2 x 2, scale 200: 0, 100, 200, 400 -> 255
    DumpPpm("grey.ppm", data, 2, 2, 1, false, 200.0);
    EXPECT_EQ(Contents("grey.ppm"),
              "P3\n2 2\n255\n0 0 0\n100 100 100\n\n200 200 200\n255 255 255\n\n");
}

TEST_F(PpmImageTest, DumpTakesInterleavedOrPlanarChannels) {
    // 2 x 1 pixels of 3 channels; out-of-range and NaN values become 255.
    const double interleaved[6] = {1, 2, 3, -4, 5, 300};
    DumpPpm("rgb.ppm", interleaved, 2, 1, 3, false, 1.0);
    EXPECT_EQ(Contents("rgb.ppm"), "P3\n2 1\n255\n1 2 3 \n255 5 255 \n\n");
    const double planar[6] = {1, -4, 2, 5, 3, NAN};
    DumpPpm("planar.ppm", planar, 2, 1, 3, true, 1.0);
    EXPECT_EQ(Contents("planar.ppm"), "P3\n2 1\n255\n1 2 3 \n255 5 255 \n\n");
}

} // namespace
