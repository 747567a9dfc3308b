// The training-data export mode: record sizes, the mix history layout, the
// ideal masks and the tracks it refuses.
#include "tests/plugin/StemvoltaTestHost.h"
#include "toolkit/AudioFile.h"
#include "toolkit/ProcessObjChannel.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kStems = 4;
constexpr int kMelBins = 256;
constexpr int kMixRecord = 4 * kMelBins;
const char* const kStemFiles[kStems] = {"vocals.wav", "bass.wav", "drums.wav", "other.wav"};

using Signal = std::vector<double>;

// A dataset split in a fresh temporary folder, removed with everything in it.
class TempDataset {
public:
    TempDataset() {
        char pattern[] = "/tmp/stemvolta-learn-XXXXXX";
        if (const char* made = mkdtemp(pattern)) mRoot = made;
        ::mkdir((mRoot + "/Mixtures").c_str(), 0777);
        ::mkdir((mRoot + "/Sources").c_str(), 0777);
        ::mkdir((mRoot + "/out").c_str(), 0777);
    }
    ~TempDataset() { std::system(("rm -rf '" + mRoot + "'").c_str()); }
    TempDataset(const TempDataset&) = delete;
    TempDataset& operator=(const TempDataset&) = delete;

    const std::string& Root() const { return mRoot; }
    std::string Out() const { return mRoot + "/out"; }

    // The four sources and their sum as the mixture, all at rate.
    void AddTrack(const std::string& name, const std::vector<Signal>& sources,
                  double rate = 44100.0) {
        Signal mix(sources[0].size(), 0.0);
        for (const Signal& s : sources)
            for (size_t i = 0; i < mix.size() && i < s.size(); ++i) mix[i] += s[i];
        ::mkdir((mRoot + "/Mixtures/" + name).c_str(), 0777);
        ::mkdir((mRoot + "/Sources/" + name).c_str(), 0777);
        Write(mRoot + "/Mixtures/" + name + "/mixture.wav", mix, rate);
        for (int k = 0; k < kStems; ++k)
            Write(mRoot + "/Sources/" + name + "/" + kStemFiles[k], sources[k], rate);
        mTracks.push_back(name);
        WriteTrackList();
    }
    void WriteTrackList() const {
        std::ofstream list(mRoot + "/Tracks.txt");
        for (const std::string& t : mTracks) list << t << "\n";
    }
    void RemoveFile(const std::string& relative) const {
        std::remove((mRoot + "/" + relative).c_str());
    }

    // Stereo float WAV; the right channel is the left one halved.
    static void Write(const std::string& path, const Signal& samples, double rate) {
        AudioFile file(2, AudioFile::kFormatFromExtension, nullptr, rate);
        KIT_TypedBuf<double> left;
        left.Set(samples.data(), static_cast<int>(samples.size()));
        KIT_TypedBuf<double> right;
        right.Set(samples.data(), static_cast<int>(samples.size()));
        for (int i = 0; i < right.GetSize(); ++i) right[i] *= 0.5;
        file.SetChannel(0, left, 0);
        file.SetChannel(1, right, 0);
        ASSERT_TRUE(file.Save(path.c_str())) << path;
    }

    std::vector<float> Read(const std::string& name) const {
        std::ifstream in(Out() + "/" + name, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::vector<float> values(bytes.size() / sizeof(float));
        if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * 4);
        return values;
    }
    std::string ReadText(const std::string& name) const {
        std::ifstream in(Out() + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool Exists(const std::string& name) const {
        struct stat st;
        return ::stat((Out() + "/" + name).c_str(), &st) == 0;
    }

private:
    std::string mRoot;
    std::vector<std::string> mTracks;
};

Signal Sine(int n, double hz, double amp) {
    Signal s(n);
    for (int i = 0; i < n; ++i) s[i] = amp * std::sin(2.0 * M_PI * hz * i / 44100.0);
    return s;
}

Signal Noise(int n, double amp, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-amp, amp);
    Signal s(n);
    for (double& v : s) v = u(rng);
    return s;
}

std::vector<Signal> MixedSources(int n) {
    return {Sine(n, 1000.0, 0.3), Sine(n, 90.0, 0.5), Noise(n, 0.05, 1), Sine(n, 3000.0, 0.2)};
}

// A plug-in at 44100 Hz set up to export data's split into its output folder.
struct Exporter {
    explicit Exporter(const TempDataset& data) : plug(nullptr) {
        plug.SetSampleRate(44100.0);
        plug.SetLearnFolders(data.Root().c_str(), data.Out().c_str());
    }
    int Run(int overlapping = 4) { return plug.InitLearn(overlapping, 1); }
    testmodels::TestStemvolta plug;
};

int Export(const TempDataset& data, int overlapping = 4) {
    return Exporter(data).Run(overlapping);
}

// Checks that every mask value is 0 or 1 and that exactly one stem holds 1
// in every bin of every record.
void ExpectOneHot(const std::vector<std::vector<float>>& masks) {
    const size_t n = masks[0].size();
    for (const auto& m : masks) ASSERT_EQ(m.size(), n);
    for (size_t i = 0; i < n; ++i) {
        float sum = 0.0f;
        for (const auto& m : masks) {
            ASSERT_TRUE(m[i] == 0.0f || m[i] == 1.0f) << "value " << m[i] << " at " << i;
            sum += m[i];
        }
        ASSERT_EQ(sum, 1.0f) << "at " << i;
    }
}

std::vector<std::vector<float>> ReadMasks(const TempDataset& data) {
    std::vector<std::vector<float>> masks;
    for (int k = 0; k < kStems; ++k)
        masks.push_back(data.Read("mask" + std::to_string(k) + ".dat"));
    return masks;
}

struct SizeCase {
    int overlapping;
    int samples;
    int frames; // records expected in every file
};

class StemvoltaLearnSizeTest : public ::testing::TestWithParam<SizeCase> {};

// Blocks of 2048 samples are exported while more than 2048 remain; the first
// block fills the engine's first frame, each later one adds `overlapping`.
TEST_P(StemvoltaLearnSizeTest, RecordsHaveTheExportSizes) {
    const SizeCase& c = GetParam();
    TempDataset data;
    data.AddTrack("t", MixedSources(c.samples));
    ASSERT_EQ(Export(data, c.overlapping), 1);

    EXPECT_EQ(data.Read("mix.dat").size(), static_cast<size_t>(c.frames) * kMixRecord);
    const auto masks = ReadMasks(data);
    for (const auto& m : masks) EXPECT_EQ(m.size(), static_cast<size_t>(c.frames) * kMelBins);
    ExpectOneHot(masks);
    EXPECT_EQ(data.ReadText("dump.txt"), "dump: 1/1\nok\n");
}

INSTANTIATE_TEST_SUITE_P(Lengths, StemvoltaLearnSizeTest,
                         ::testing::Values(SizeCase{1, 2 * 2048 + 1, 2}, // the two-frame track
                                           SizeCase{4, 2049, 1}, SizeCase{4, 2 * 2048 + 1, 5},
                                           SizeCase{4, 2048, 0}));

TEST(StemvoltaLearnTest, MixRecordsAreTheHistoryOldestFirst) {
    TempDataset data;
    data.AddTrack("t", MixedSources(6 * 2048 + 1));
    ASSERT_EQ(Export(data), 1);
    const std::vector<float> mix = data.Read("mix.dat");
    const size_t records = mix.size() / kMixRecord;
    ASSERT_EQ(records, 21u);

    // The first frame's history holds three frames of zeros before it.
    for (int i = 0; i < 3 * kMelBins; ++i) ASSERT_EQ(mix[i], 0.0f) << i;
    double newest = 0.0;
    for (int i = 3 * kMelBins; i < kMixRecord; ++i) newest += mix[i];
    EXPECT_GT(newest, 0.0);
    // Entry e + 1 of record j is entry e of record j + 1.
    for (size_t j = 0; j + 1 < records; ++j)
        for (int e = 0; e < 3; ++e)
            for (int b = 0; b < kMelBins; ++b)
                ASSERT_EQ(mix[j * kMixRecord + (e + 1) * kMelBins + b],
                          mix[(j + 1) * kMixRecord + e * kMelBins + b])
                    << "record " << j << " entry " << e << " bin " << b;
}

TEST(StemvoltaLearnTest, EachBinGoesToTheLoudestStemTiesToTheLower) {
    const int n = 8 * 2048 + 1;
    TempDataset data;
    // Silent vocals; drums and other identical, so other never wins.
    const Signal hiss = Noise(n, 0.02, 7);
    data.AddTrack("tie", {Signal(n, 0.0), Sine(n, 90.0, 0.8), hiss, hiss});
    // Every source silent: every bin is a four-way tie.
    data.AddTrack("silent", std::vector<Signal>(kStems, Signal(n, 0.0)));
    ASSERT_EQ(Export(data), 2);

    const auto masks = ReadMasks(data);
    ExpectOneHot(masks);
    // The engine runs on from one track into the next: 1 + 7 * 4 records of
    // the first track, then 8 * 4, of which the first three still see its end.
    ASSERT_EQ(masks[0].size(), (29u + 32u) * kMelBins);
    const size_t half = 29u * kMelBins;
    for (size_t i = 0; i < half; ++i) {
        ASSERT_EQ(masks[0][i], 0.0f) << i;
        ASSERT_EQ(masks[3][i], 0.0f) << i;
    }
    // The bass sine owns its own low bins; the hiss owns the top of the band.
    for (size_t r = 4; r < half / kMelBins; ++r) {
        EXPECT_EQ(masks[1][r * kMelBins + 8], 1.0f) << "record " << r;
        EXPECT_EQ(masks[2][r * kMelBins + 200], 1.0f) << "record " << r;
    }
    for (size_t i = half + 3 * kMelBins; i < masks[0].size(); ++i)
        ASSERT_EQ(masks[0][i], 1.0f) << i;
}

struct SkipCase {
    const char* name;
    void (*spoil)(TempDataset&); // turns track "bad" into one that is refused
};

class StemvoltaLearnSkipTest : public ::testing::TestWithParam<SkipCase> {};

// A refused track writes no record; the tracks around it still export (9
// records from the first, 12 from the last: the engine carries the samples of
// its last incomplete frame into the next track).
TEST_P(StemvoltaLearnSkipTest, BadTrackIsSkipped) {
    const int n = 3 * 2048 + 1;
    TempDataset data;
    data.AddTrack("good1", MixedSources(n));
    data.AddTrack("bad", MixedSources(n));
    data.AddTrack("good2", MixedSources(n));
    GetParam().spoil(data);
    ASSERT_EQ(Export(data), 2);

    EXPECT_EQ(data.Read("mix.dat").size(), 21u * kMixRecord);
    for (const auto& m : ReadMasks(data)) EXPECT_EQ(m.size(), 21u * kMelBins);
    const std::string dump = data.ReadText("dump.txt");
    EXPECT_NE(dump.find("dump: 1/3\nok\ndump: 2/3\nskipped: "), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nok\ndump: 3/3\nok\n"), std::string::npos) << dump;
}

INSTANTIATE_TEST_SUITE_P(
    Spoils, StemvoltaLearnSkipTest,
    ::testing::Values(
        SkipCase{"MissingSource", [](TempDataset& d) { d.RemoveFile("Sources/bad/drums.wav"); }},
        SkipCase{"MissingMixture",
                 [](TempDataset& d) { d.RemoveFile("Mixtures/bad/mixture.wav"); }},
        SkipCase{"ShorterSource",
                 [](TempDataset& d) {
                     TempDataset::Write(d.Root() + "/Sources/bad/other.wav",
                                        Sine(3 * 2048, 500.0, 0.1), 44100.0);
                 }},
        SkipCase{"OtherRate",
                 [](TempDataset& d) {
                     const Signal s = Sine(3 * 2048 + 1, 500.0, 0.1);
                     TempDataset::Write(d.Root() + "/Mixtures/bad/mixture.wav", s, 48000.0);
                     for (const char* f : kStemFiles)
                         TempDataset::Write(d.Root() + "/Sources/bad/" + f, s, 48000.0);
                 }},
        SkipCase{"NotASoundFile",
                 [](TempDataset& d) {
                     std::ofstream(d.Root() + "/Sources/bad/bass.wav") << "not audio";
                 }}),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.name); });

TEST(StemvoltaLearnTest, MissingTrackListExportsNothing) {
    TempDataset data;
    data.AddTrack("t", MixedSources(3 * 2048 + 1));
    data.RemoveFile("Tracks.txt");
    EXPECT_EQ(Export(data), -1);
    for (const char* f : {"mix.dat", "mask0.dat", "dump.txt"}) EXPECT_FALSE(data.Exists(f)) << f;
}

// A second run appends to the files and reuses the capture engines.
TEST(StemvoltaLearnTest, SecondRunAppends) {
    TempDataset data;
    data.AddTrack("t", MixedSources(3 * 2048 + 1));
    Exporter exporter(data);
    ASSERT_EQ(exporter.Run(), 1);
    ASSERT_EQ(exporter.Run(), 1);
    // The reset engines start from empty buffers: 9 records each time.
    EXPECT_EQ(data.Read("mix.dat").size(), 2u * 9 * kMixRecord);
    const auto masks = ReadMasks(data);
    ExpectOneHot(masks);
    EXPECT_EQ(masks[2].size(), 2u * 9 * kMelBins);
}

// Nothing reads the capture engines' output: a long export must not pile it
// up in the FIFOs of either channel.
TEST(StemvoltaLearnTest, CaptureEnginesKeepNoOutput) {
    TempDataset data;
    data.AddTrack("t", MixedSources(40 * 2048 + 1));
    Exporter exporter(data);
    ASSERT_EQ(exporter.Run(), 1);
    const FftProcessObj16* engine = exporter.plug.GetEngine();
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->GetNumChannels(), 2);
    for (int c = 0; c < 2; ++c) EXPECT_EQ(engine->GetChannel(c)->GetOutputFifo().GetSize(), 0) << c;
}

// With the debug flag the first 51 blocks (1 + 50 * 4 frames of 4 history
// entries) become pictures in the debug folder, $HOME/Documents/CorvenaAudio-Debug.
TEST(StemvoltaLearnTest, DebugPicturesHoldTheFirstBlocks) {
    TempDataset data;
    data.AddTrack("t", MixedSources(60 * 2048 + 1));
    const std::string debugDir = data.Root() + "/Documents/CorvenaAudio-Debug";
    ::mkdir((data.Root() + "/Documents").c_str(), 0777);
    ::mkdir(debugDir.c_str(), 0777);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", data.Root().c_str(), 1);
    {
        Exporter exporter(data);
        exporter.plug.SetLearnDebug(true);
        EXPECT_EQ(exporter.Run(), 1);
    }
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");

    for (const char* name : {"learn-mix.ppm", "learn-source0.ppm", "learn-source3.ppm"}) {
        std::ifstream ppm(debugDir + "/" + name);
        std::string magic;
        int width = 0, height = 0;
        ppm >> magic >> width >> height;
        EXPECT_EQ(magic, "P3") << name;
        EXPECT_EQ(width, (1 + 50 * 4) * 4) << name;
        EXPECT_EQ(height, kMelBins) << name;
    }
}

} // namespace
