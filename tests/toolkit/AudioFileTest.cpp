#include "toolkit/AudioFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

// A fresh folder per test, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/audiofile-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        mPath = made ? made : "/tmp";
    }
    ~TempDir() {
        const std::string cmd = "rm -rf '" + mPath + "'";
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", mPath.c_str());
    }
    std::string File(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Random samples in [-1, 1) that a 32-bit float holds exactly.
void FillRandom(KIT_TypedBuf<double>& buf, int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 0.999f);
    buf.Resize(n);
    for (int i = 0; i < n; i++) buf[i] = dist(rng);
}

// Every channel of sound gets frames random samples (seed + channel).
void FillChannels(AudioFile& sound, int frames, unsigned seed) {
    for (int ch = 0; ch < sound.GetNumChannels(); ch++) {
        KIT_TypedBuf<double> buf;
        FillRandom(buf, frames, seed + ch);
        sound.SetChannel(ch, buf, 0);
    }
}

// Saves sound to path and loads it back; null (and a failure) when either fails.
std::unique_ptr<AudioFile> Reload(const AudioFile& sound, const std::string& path) {
    if (!sound.Save(path.c_str())) {
        ADD_FAILURE() << "could not save " << path;
        return nullptr;
    }
    std::unique_ptr<AudioFile> in = AudioFile::Load(path.c_str());
    if (!in) ADD_FAILURE() << "could not load " << path;
    return in;
}

KIT_TypedBuf<double>* Channel(AudioFile& sound, int index) {
    KIT_TypedBuf<double>* buf = nullptr;
    sound.GetChannel(index, &buf);
    return buf;
}

struct RoundTripCase {
    const char* name;
    int channels;
    int frames;
    int format;       // given to the constructor
    int expectFormat; // what the loaded file reports
    double tolerance; // largest allowed sample error
};

class AudioFileRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(AudioFileRoundTrip, SavesAndLoadsEveryChannel) {
    const RoundTripCase c = GetParam();
    TempDir dir;
    AudioFile out(c.channels, c.format, nullptr, 44100.7);
    FillChannels(out, c.frames, 17u);
    std::unique_ptr<AudioFile> in = Reload(out, dir.File(c.name));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->GetNumChannels(), c.channels);
    EXPECT_EQ(in->GetSampleRate(), 44100.0); // the rate is stored as a whole number
    EXPECT_EQ(in->GetFormat(), c.expectFormat);
    for (int ch = 0; ch < c.channels; ch++) {
        KIT_TypedBuf<double>* expected = Channel(out, ch);
        KIT_TypedBuf<double>* got = Channel(*in, ch);
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(got->GetSize(), c.frames) << "channel " << ch;
        double worst = 0.0;
        for (int i = 0; i < c.frames; i++)
            worst = std::max(worst, std::fabs((*got)[i] - (*expected)[i]));
        EXPECT_LE(worst, c.tolerance) << "channel " << ch;
    }
}

const double kFlacStep = std::ldexp(1.0, -23);

INSTANTIATE_TEST_SUITE_P(
    Formats, AudioFileRoundTrip,
    ::testing::Values(
        // 3 channels: 1365-frame read blocks that do not divide the length.
        RoundTripCase{"a.wav", 3, 10007, -1, AudioFile::kFormatWavFloat, 0.0},
        RoundTripCase{"mono.wav", 1, 4097, -1, AudioFile::kFormatWavFloat, 0.0},
        RoundTripCase{"a.aif", 2, 5000, -1, AudioFile::kFormatAiffFloat, 0.0},
        RoundTripCase{"a.aiff", 2, 5000, -1, AudioFile::kFormatAiffFloat, 0.0},
        RoundTripCase{"a.flac", 2, 9000, -1, AudioFile::kFormatFlac24, kFlacStep},
        RoundTripCase{"noextension", 2, 100, -1, AudioFile::kFormatWavFloat, 0.0},
        // A stored format wins over the extension.
        RoundTripCase{"really-wav.flac", 2, 100, AudioFile::kFormatWavFloat,
                      AudioFile::kFormatWavFloat, 0.0},
        RoundTripCase{"empty.wav", 2, 0, -1, AudioFile::kFormatWavFloat, 0.0}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(AudioFile, RefusesWhatItCannotOpen) {
    TempDir dir;
    AudioFile sound(1, -1, nullptr, 44100);
    FillChannels(sound, 64, 1);

    // Unknown extension: no format, libsndfile refuses, no file is left.
    const std::string unknown = dir.File("sound.xyz");
    EXPECT_FALSE(sound.Save(unknown.c_str()));
    EXPECT_EQ(AudioFile::Load(unknown.c_str()), nullptr);
    EXPECT_FALSE(sound.Save(dir.File("missing-folder/a.wav").c_str()));
    EXPECT_FALSE(sound.Save(nullptr));

    EXPECT_EQ(AudioFile::Load(dir.File("absent.wav").c_str()), nullptr);
    EXPECT_EQ(AudioFile::Load(nullptr), nullptr);
    const std::string text = dir.File("text.wav");
    FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not a sound file at all, only some words in it\n", f);
    std::fclose(f);
    EXPECT_EQ(AudioFile::Load(text.c_str()), nullptr);

    AudioFile noChannels(0, -1, nullptr, 44100);
    EXPECT_FALSE(noChannels.Save(dir.File("none.wav").c_str()));

    // Rates no header can hold.
    for (double rate : {0.0, -44100.0, 1e12, static_cast<double>(NAN)}) {
        AudioFile odd(1, -1, nullptr, rate);
        FillChannels(odd, 16, 2);
        EXPECT_FALSE(odd.Save(dir.File("odd.wav").c_str())) << rate;
    }
}

TEST(AudioFile, BorrowedListShrunkByItsOwnerIsNotReadPast) {
    TempDir dir;
    AudioFile::ChannelList list;
    AudioFile sound(3, -1, &list, 44100);
    FillChannels(sound, 50, 6);
    list.resize(2); // the owner dropped the last channel
    KIT_TypedBuf<double> sentinel;
    KIT_TypedBuf<double>* out = &sentinel;
    sound.GetChannel(2, &out);
    EXPECT_EQ(out, &sentinel);
    sound.SetChannel(2, list[0], 0); // ignored
    std::unique_ptr<AudioFile> in = Reload(sound, dir.File("shrunk.wav"));
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(in->GetNumChannels(), 3);
    KIT_TypedBuf<double>* missing = Channel(*in, 2);
    ASSERT_EQ(missing->GetSize(), 50);
    for (int i = 0; i < 50; i++) ASSERT_EQ((*missing)[i], 0.0) << i;
    for (int i = 0; i < 50; i++) ASSERT_EQ((*Channel(*in, 1))[i], list[1][i]) << i;
}

TEST(AudioFile, PadsShortChannelsAndCutsLongOnesToTheFirst) {
    TempDir dir;
    AudioFile sound(3, -1, nullptr, 48000);
    KIT_TypedBuf<double> first, shorter, longer;
    FillRandom(first, 1000, 1);
    FillRandom(shorter, 10, 2);
    FillRandom(longer, 1500, 3);
    sound.SetChannel(0, first, 0);
    sound.SetChannel(1, shorter, 0);
    sound.SetChannel(2, longer, 0);
    std::unique_ptr<AudioFile> in = Reload(sound, dir.File("ragged.wav"));
    ASSERT_NE(in, nullptr);
    KIT_TypedBuf<double>* ch1 = Channel(*in, 1);
    KIT_TypedBuf<double>* ch2 = Channel(*in, 2);
    ASSERT_EQ(ch1->GetSize(), 1000);
    ASSERT_EQ(ch2->GetSize(), 1000);
    for (int i = 0; i < 10; i++) EXPECT_EQ((*ch1)[i], shorter[i]);
    for (int i = 10; i < 1000; i++) ASSERT_EQ((*ch1)[i], 0.0) << i;
    for (int i = 0; i < 1000; i++) ASSERT_EQ((*ch2)[i], longer[i]) << i;
}

TEST(AudioFile, FlacClipsOutOfRangeSamplesInsteadOfWrapping) {
    TempDir dir;
    AudioFile sound(1, -1, nullptr, 44100);
    const double values[] = {1.5, -2.0, 1.0, -1.0, 0.25};
    KIT_TypedBuf<double> buf;
    buf.Set(values, 5);
    sound.SetChannel(0, buf, 0);
    std::unique_ptr<AudioFile> in = Reload(sound, dir.File("loud.flac"));
    ASSERT_NE(in, nullptr);
    KIT_TypedBuf<double>* got = Channel(*in, 0);
    ASSERT_EQ(got->GetSize(), 5);
    const double top = 1.0 - kFlacStep; // the largest 24-bit sample
    EXPECT_EQ((*got)[0], top);
    EXPECT_EQ((*got)[1], -1.0);
    EXPECT_EQ((*got)[2], top);
    EXPECT_EQ((*got)[3], -1.0);
    EXPECT_EQ((*got)[4], 0.25);
}

TEST(AudioFile, ShortWriteIsAFailedSave) {
    TempDir dir;
    AudioFile sound(2, -1, nullptr, 44100);
    FillChannels(sound, 44100, 5);

    // A file size limit below the sound's 350 kB makes the write come up short.
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = sound.Save(dir.File("big.wav").c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
}

TEST(AudioFile, BorrowedListIsFilledAndOutlivesTheObject) {
    TempDir dir;
    const std::string path = dir.File("b.wav");
    {
        AudioFile sound(2, -1, nullptr, 22050);
        FillChannels(sound, 300, 9);
        ASSERT_TRUE(sound.Save(path.c_str()));
    }
    AudioFile::ChannelList list;
    {
        std::unique_ptr<AudioFile> in = AudioFile::Load(path.c_str(), &list);
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(Channel(*in, 0), &list[0]);
    }
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].GetSize(), 300);
}

TEST(AudioFile, ChannelAccessorsIgnoreBadIndexesAndResizeWithZeros) {
    AudioFile sound(2, -1, nullptr, 44100);
    KIT_TypedBuf<double> buf;
    FillRandom(buf, 8, 4);

    KIT_TypedBuf<double> sentinel;
    KIT_TypedBuf<double>* out = &sentinel;
    sound.GetChannel(2, &out);
    EXPECT_EQ(out, &sentinel);
    sound.GetChannel(-1, &out);
    EXPECT_EQ(out, &sentinel);
    sound.SetChannel(2, buf, 0); // ignored
    sound.SetChannel(-1, buf, 0);

    sound.SetChannel(0, buf, 12); // grown with zeros
    sound.SetChannel(1, buf, 3);  // cut
    KIT_TypedBuf<double>* ch0 = Channel(sound, 0);
    KIT_TypedBuf<double>* ch1 = Channel(sound, 1);
    ASSERT_EQ(ch0->GetSize(), 12);
    ASSERT_EQ(ch1->GetSize(), 3);
    for (int i = 0; i < 8; i++) EXPECT_EQ((*ch0)[i], buf[i]);
    for (int i = 8; i < 12; i++) EXPECT_EQ((*ch0)[i], 0.0);
    for (int i = 0; i < 3; i++) EXPECT_EQ((*ch1)[i], buf[i]);
}

} // namespace
