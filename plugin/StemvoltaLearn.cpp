// The training-data export mode of Stemvolta: turns a multitrack dataset into
// the model inputs and ideal masks the four networks are trained on. Nothing
// in the plug-in enters it; tools/train/stemvolta-export does.
#include "plugin/Stemvolta.h"

#include "plugin/MaskPredictor.h"
#include "toolkit/AudioFile.h"
#include "toolkit/DspUtilsAnalysis.h"

#include <cstdio>
#include <fstream>
#include <string>

// Exported records must be the model input the predictor builds.
static_assert(StemvoltaDumpFftObj::kHistorySize == MaskPredictor::kHistorySize, "history size");

namespace {

const char* const kSourceFiles[Stemvolta::kNumStems] = {"vocals.wav", "bass.wav", "drums.wav",
                                                        "other.wav"};
const char* const kSourceImages[Stemvolta::kNumStems] = {"learn-source0.ppm", "learn-source1.ppm",
                                                         "learn-source2.ppm", "learn-source3.ppm"};
// The debug images are written once, after this many exported blocks.
constexpr int kImageCall = 51;

void AppendLine(const std::string& path, const std::string& line) {
    if (std::FILE* file = std::fopen(path.c_str(), "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

// Channel 0 (the one the predictor reads) of a sound file into out.
// False, with reason set, when the file cannot be read or is empty.
bool LoadFirstChannel(const std::string& path, KIT_TypedBuf<double>& out, double* rate,
                      std::string* reason) {
    AudioFile::ChannelList channels;
    std::unique_ptr<AudioFile> file = AudioFile::Load(path.c_str(), &channels);
    if (!file || channels.empty() || channels[0].GetSize() == 0) {
        *reason = path + ": cannot be read or holds no samples";
        return false;
    }
    *rate = file->GetSampleRate();
    out = std::move(channels[0]);
    return true;
}

} // namespace

void Stemvolta::SetLearnFolders(const char* datasetDir, const char* outputDir) {
    mLearnDatasetDir = datasetDir ? datasetDir : "";
    mLearnOutputDir = outputDir ? outputDir : "";
}

void Stemvolta::SetLearnDebug(bool on) {
    mLearnDebug = on;
    if (!on) return;
    for (auto& spectrogram : mLearnSpectrograms)
        spectrogram = std::make_unique<DbgSpectrogram>(MaskPredictor::kMaskMelBins, -1);
}

int Stemvolta::InitLearn(int overlapping, int freqRes) {
    const double rate = GetSampleRate();
    if (mDumpObjs[0]) {
        for (auto& engine : mEngines)
            if (engine) engine->Reset(kFftSize, overlapping, freqRes, rate);
    } else {
        // The capture engines take the place of the playback engine: from
        // here on this instance exports and no longer plays. The capture
        // object serves the side-chain channel too, and drops its hops as it
        // drops the mixture's: the export reads no audio back.
        for (int k = 0; k < kNumStems; ++k) {
            mDumpObjs[k] = std::make_unique<StemvoltaDumpFftObj>(kFftSize);
            mEngines[k] = std::make_unique<FftProcessObj16>(
                std::vector<ProcessObj*>{mDumpObjs[k].get(), mDumpObjs[k].get()}, 1, 1, kFftSize,
                overlapping, rate, freqRes);
            mEngines[k]->SetAnalysisWindow(-1, 1);
            mEngines[k]->SetSynthesisWindow(-1, 1);
            mEngines[k]->SetKeepSynthesisEnergy(-1, false);
        }
    }
    return DumpDataset();
}

std::string Stemvolta::LearnOutputPath(const char* name) const {
    return mLearnOutputDir.empty() ? std::string(name) : mLearnOutputDir + "/" + name;
}

int Stemvolta::DumpDataset() {
    const std::string base = mLearnDatasetDir.empty() ? "." : mLearnDatasetDir;
    std::ifstream list(base + "/Tracks.txt");
    if (!list) {
        std::fprintf(stderr, "stemvolta: %s/Tracks.txt cannot be read\n", base.c_str());
        return -1;
    }
    std::vector<std::string> tracks;
    for (std::string line; std::getline(list, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) tracks.push_back(line);
    }

    const std::string dumpPath = LearnOutputPath("dump.txt");
    const std::string mixtures = base + "/Mixtures";
    const std::string sources = base + "/Sources";
    int exported = 0;
    for (size_t t = 0; t < tracks.size(); ++t) {
        AppendLine(dumpPath,
                   "dump: " + std::to_string(t + 1) + "/" + std::to_string(tracks.size()));
        const std::string mixPath = mixtures + "/" + tracks[t] + "/mixture.wav";
        std::string sourcePaths[kNumStems];
        for (int k = 0; k < kNumStems; ++k)
            sourcePaths[k] = sources + "/" + tracks[t] + "/" + kSourceFiles[k];
        std::string reason;
        if (ReadTrack(mixPath, sourcePaths, &reason)) {
            ProcessTrack();
            ++exported;
        } else {
            AppendLine(dumpPath, "skipped: " + reason);
            std::fprintf(stderr, "stemvolta: track %s skipped: %s\n", tracks[t].c_str(),
                         reason.c_str());
        }
        mLearnMix.Resize(0);
        for (auto& source : mLearnSources) source.Resize(0);
        mLearnPos = 0;
        AppendLine(dumpPath, "ok");
    }
    return exported;
}

bool Stemvolta::ReadTrack(const std::string& mixPath, const std::string (&sourcePaths)[kNumStems],
                          std::string* reason) {
    double mixRate = 0.0;
    if (!LoadFirstChannel(mixPath, mLearnMix, &mixRate, reason)) return false;
    // The networks are trained on frames of the STFT rate.
    if (mixRate != kStftRate) {
        *reason = mixPath + ": " + std::to_string(mixRate) + " Hz, not 44100 Hz";
        return false;
    }
    for (int k = 0; k < kNumStems; ++k) {
        double rate = 0.0;
        if (!LoadFirstChannel(sourcePaths[k], mLearnSources[k], &rate, reason)) return false;
        if (rate != mixRate || mLearnSources[k].GetSize() != mLearnMix.GetSize()) {
            *reason = sourcePaths[k] + ": rate or length differs from the mixture";
            return false;
        }
    }
    mLearnPos = 0;
    return true;
}

void Stemvolta::ProcessTrack() {
    for (const auto& source : mLearnSources)
        if (source.GetSize() != mLearnMix.GetSize()) return;
    if (!mEngines[0] || !mDumpObjs[0]) return;
    mLearnIn.resize(1);
    mLearnSc.resize(1);
    while (mLearnMix.GetSize() - mLearnPos > kFftSize) {
        for (int k = 0; k < kNumStems; ++k) {
            mLearnIn[0].Set(mLearnMix.Get() + mLearnPos, kFftSize);
            mLearnSc[0].Set(mLearnSources[k].Get() + mLearnPos, kFftSize);
            mEngines[k]->Process(mLearnIn, mLearnSc, nullptr);
        }
        ExportSlices();
        ConsumeTrackSamples(kFftSize);
    }
}

void Stemvolta::ConsumeTrackSamples(int n) {
    // The buffers keep their samples; the read position stands for the
    // samples removed from their fronts.
    mLearnPos = std::min(mLearnPos + n, mLearnMix.GetSize());
}

void Stemvolta::DownsampleHistory(const std::vector<KIT_TypedBuf<double>>& history,
                                  std::vector<KIT_TypedBuf<double>>& mel) {
    mel.resize(history.size());
    for (size_t e = 0; e < history.size(); ++e)
        MaskPredictor::DownsampleSpectrum(history[e], mel[e]);
}

void Stemvolta::IdealMasks(std::array<std::vector<KIT_TypedBuf<double>>, kNumStems>& sources) {
    const size_t entries = sources[0].size();
    for (int k = 1; k < kNumStems; ++k)
        if (sources[k].size() != entries) return;
    for (size_t e = 0; e < entries; ++e) {
        int bins = sources[0][e].GetSize();
        for (int k = 1; k < kNumStems; ++k) bins = std::min(bins, sources[k][e].GetSize());
        for (int b = 0; b < bins; ++b) {
            int best = 0;
            for (int k = 1; k < kNumStems; ++k)
                if (sources[k][e][b] > sources[best][e][b]) best = k;
            for (int k = 0; k < kNumStems; ++k) sources[k][e][b] = k == best ? 1.0 : 0.0;
        }
    }
}

void Stemvolta::ExportSlices() {
    std::array<std::vector<StemvoltaDumpFftObj::Slice>, kNumStems> slices;
    size_t count = SIZE_MAX;
    for (int k = 0; k < kNumStems; ++k) {
        mDumpObjs[k]->TakeSlices(&slices[k]);
        count = std::min(count, slices[k].size());
    }

    // One append per file for the whole block: the same bytes as one append
    // per frame.
    KIT_TypedBuf<double> mixRecords;
    std::array<KIT_TypedBuf<double>, kNumStems> maskRecords;
    std::vector<KIT_TypedBuf<double>> mix;
    std::array<std::vector<KIT_TypedBuf<double>>, kNumStems> masks;
    for (size_t j = 0; j < count; ++j) {
        DownsampleHistory(slices[0][j].mix, mix);
        for (int k = 0; k < kNumStems; ++k) DownsampleHistory(slices[k][j].source, masks[k]);
        IdealMasks(masks);
        // The pictures are written once: collecting stops there, or a long
        // export would pile up every frame.
        if (mLearnDebug && mExportCalls < kImageCall) {
            for (const auto& entry : mix)
                if (mLearnSpectrograms[0]) mLearnSpectrograms[0]->AddLine(entry);
            for (int k = 0; k < kNumStems; ++k)
                for (const auto& entry : masks[k])
                    if (mLearnSpectrograms[k + 1]) mLearnSpectrograms[k + 1]->AddLine(entry);
        }
        for (const auto& entry : mix) mixRecords.Add(entry.Get(), entry.GetSize());
        for (int k = 0; k < kNumStems; ++k)
            if (!masks[k].empty())
                maskRecords[k].Add(masks[k].back().Get(), masks[k].back().GetSize());
    }
    if (count > 0 && count != SIZE_MAX) {
        DspUtils::AppendValuesFileBinFloat(LearnOutputPath("mix.dat").c_str(), mixRecords);
        for (int k = 0; k < kNumStems; ++k) {
            const std::string name = "mask" + std::to_string(k) + ".dat";
            DspUtils::AppendValuesFileBinFloat(LearnOutputPath(name.c_str()).c_str(),
                                               maskRecords[k]);
        }
    }
    if (++mExportCalls == kImageCall) WriteLearnImages();
}

void Stemvolta::WriteLearnImages() {
    if (!mLearnDebug) return;
    if (mLearnSpectrograms[0]) mLearnSpectrograms[0]->SavePPM8("learn-mix.ppm");
    for (int k = 0; k < kNumStems; ++k)
        if (mLearnSpectrograms[k + 1]) mLearnSpectrograms[k + 1]->SavePPM8(kSourceImages[k]);
}
