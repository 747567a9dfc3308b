#include "tools/render/RenderCommand.h"

#include "tests/plugin/ModelFileWriter.h"
#include "tests/plugin/TestResources.h"
#include "toolkit/AudioFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using testmodels::TestResources;

TEST(RenderCommandTest, ParsesEveryOption) {
    RenderCommandLine cmd;
    std::string error;
    ASSERT_TRUE(ParseRenderCommandLine({"--levels", "0,-120,-6.5,12", "--sensitivities",
                                        "100,0,50,25.5", "--soft-hard", "30", "--block", "256",
                                        "--models", "m", "--oracle", "src", "in.flac", "out.wav"},
                                       cmd, error))
        << error;
    const std::array<double, 4> levels{{0, -120, -6.5, 12}};
    const std::array<double, 4> sensitivities{{100, 0, 50, 25.5}};
    EXPECT_EQ(levels, cmd.settings.levelsDb);
    EXPECT_EQ(sensitivities, cmd.settings.sensitivities);
    EXPECT_EQ(30.0, cmd.settings.softHard);
    EXPECT_EQ(256, cmd.settings.blockSize);
    EXPECT_EQ("m", cmd.settings.modelsDir);
    EXPECT_EQ("src", cmd.oracleDir);
    EXPECT_EQ("in.flac", cmd.input);
    EXPECT_EQ("out.wav", cmd.output);
    EXPECT_FALSE(cmd.help);
}

TEST(RenderCommandTest, DefaultsAndHelp) {
    RenderCommandLine cmd;
    std::string error;
    ASSERT_TRUE(ParseRenderCommandLine({"a.wav", "b.wav"}, cmd, error)) << error;
    EXPECT_EQ(512, cmd.settings.blockSize);
    EXPECT_EQ("plugin/resources", cmd.settings.modelsDir);
    EXPECT_EQ(0.0, cmd.settings.softHard);
    EXPECT_TRUE(cmd.oracleDir.empty());
    ASSERT_TRUE(ParseRenderCommandLine({"--help"}, cmd, error)) << error;
    EXPECT_TRUE(cmd.help);
}

TEST(RenderCommandTest, RejectsBadCommandLines) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"a.wav"}, "input and an output"},
        {{"a.wav", "b.wav", "c.wav"}, "input and an output"},
        {{"--frobnicate", "1", "a.wav", "b.wav"}, "unknown option"},
        {{"a.wav", "b.wav", "--levels"}, "missing value"},
        {{"--levels", "0,0,0", "a.wav", "b.wav"}, "--levels"},
        {{"--levels", "0,0,0,0,0", "a.wav", "b.wav"}, "--levels"},
        {{"--levels", "0,0,,0", "a.wav", "b.wav"}, "--levels"},
        {{"--levels", "0,0,0,13", "a.wav", "b.wav"}, "--levels"},
        {{"--levels", "0,0,0,-121", "a.wav", "b.wav"}, "--levels"},
        {{"--levels", "0,0,0,x", "a.wav", "b.wav"}, "--levels"},
        {{"--levels", "0,0,0,nan", "a.wav", "b.wav"}, "--levels"},
        {{"--sensitivities", "100,100,100,101", "a.wav", "b.wav"}, "--sensitivities"},
        {{"--soft-hard", "-1", "a.wav", "b.wav"}, "--soft-hard"},
        {{"--block", "0", "a.wav", "b.wav"}, "--block"},
        {{"--block", "12.5", "a.wav", "b.wav"}, "--block"},
        {{"--block", "512x", "a.wav", "b.wav"}, "--block"},
        {{"--models", "", "a.wav", "b.wav"}, "--models"},
    };
    for (const Case& c : cases) {
        RenderCommandLine cmd;
        std::string error;
        EXPECT_FALSE(ParseRenderCommandLine(c.args, cmd, error)) << c.args[0];
        EXPECT_NE(std::string::npos, error.find(c.message)) << c.args[0] << ": " << error;
    }
}

// A temporary folder for sound files, removed with its files.
class SoundFolder {
public:
    SoundFolder() {
        char pattern[] = "/tmp/stemvolta-render-XXXXXX";
        if (const char* made = mkdtemp(pattern)) mFolder = made;
    }
    ~SoundFolder() {
        for (const std::string& f : mFiles) std::remove(f.c_str());
        if (!mFolder.empty()) rmdir(mFolder.c_str());
    }
    std::string Path(const std::string& name) {
        mFiles.push_back(mFolder + "/" + name);
        return mFiles.back();
    }

private:
    std::string mFolder;
    std::vector<std::string> mFiles;
};

// File to file: a 16-bit stereo FLAC in, a float WAV of the same rate, channel
// count and length out, holding the soloed stem's share of the sound.
TEST(RenderCommandTest, RendersAFileToAFloatWav) {
    TestResources models;
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(models.SetModel(k, testmodels::ConstantMaskModel(k == 2 ? 1.0f : 0.0f)));
    SoundFolder folder;
    const std::string input = folder.Path("in.flac");
    const std::string output = folder.Path("out.wav");

    const int length = 30000;
    AudioFile::ChannelList channels(2);
    for (int c = 0; c < 2; ++c) {
        channels[c].Resize(length);
        for (int t = 0; t < length; ++t) {
            const double fade = std::min(1.0, (length - 1 - t) / 2048.0);
            channels[c][t] = 0.4 * fade * std::sin(2 * 3.14159265358979 * 440.0 * t / 32000 + c);
        }
    }
    ASSERT_TRUE(
        AudioFile(2, AudioFile::kFormatFromExtension, &channels, 32000.0).Save(input.c_str()));

    RenderCommandLine cmd;
    std::string error;
    ASSERT_TRUE(ParseRenderCommandLine(
        {"--models", models.Folder(), "--levels", "-120,-120,0,-120", input, output}, cmd, error));
    ASSERT_TRUE(RunRenderCommand(cmd, error)) << error;

    const std::unique_ptr<AudioFile> out = AudioFile::Load(output.c_str());
    ASSERT_TRUE(out);
    EXPECT_EQ(AudioFile::kFormatWavFloat, out->GetFormat());
    EXPECT_EQ(32000.0, out->GetSampleRate());
    ASSERT_EQ(2, out->GetNumChannels());
    double err = 0.0, sig = 0.0;
    for (int c = 0; c < 2; ++c) {
        KIT_TypedBuf<double>* rendered = nullptr;
        out->GetChannel(c, &rendered);
        ASSERT_TRUE(rendered);
        ASSERT_EQ(length, rendered->GetSize());
        for (int t = 8192; t < length; ++t) {
            const double d = (*rendered)[t] - channels[c][t];
            err += d * d;
            sig += channels[c][t] * channels[c][t];
        }
    }
    EXPECT_LT(err, 1e-2 * sig);

    // Files that cannot be read or written fail with their name.
    cmd.input = folder.Path("missing.wav");
    EXPECT_FALSE(RunRenderCommand(cmd, error));
    EXPECT_NE(std::string::npos, error.find("missing.wav")) << error;
    cmd.input = input;
    cmd.output = "/nonexistent/folder/out.wav";
    EXPECT_FALSE(RunRenderCommand(cmd, error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent/folder/out.wav")) << error;
}

} // namespace
