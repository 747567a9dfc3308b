#include "toolkit/AudioFile.h"

#include "toolkit/DspUtilsAnalysis.h"

#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

int FormatForExtension(const char* path) {
    const char* ext = DspUtils::GetFileExtension(path);
    if (!ext) ext = "wav";
    if (std::strcmp(ext, "wav") == 0) return AudioFile::kFormatWavFloat;
    if (std::strcmp(ext, "aif") == 0 || std::strcmp(ext, "aiff") == 0)
        return AudioFile::kFormatAiffFloat;
    if (std::strcmp(ext, "flac") == 0) return AudioFile::kFormatFlac24;
    return 0; // libsndfile refuses to open a file of format 0
}

// Full-scale value of an integer sample format, 0 for float and other codings.
// libsndfile's own float-to-integer scaling (full scale minus one) does not
// match its integer-to-float reading, which would leave 1.5 steps of error.
double IntegerFullScale(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 128.0;
    case SF_FORMAT_PCM_16:
        return 32768.0;
    case SF_FORMAT_PCM_24:
        return 8388608.0;
    case SF_FORMAT_PCM_32:
        return 2147483648.0;
    default:
        return 0.0;
    }
}

// Grows buf by n samples without shrinking; false when memory ran out.
bool Grow(KIT_TypedBuf<double>& buf, int n) {
    const int64_t want = static_cast<int64_t>(buf.GetSize()) + n;
    buf.Resize(want, true);
    return buf.GetSize() == want;
}

} // namespace

AudioFile::AudioFile(int numChannels, int format, ChannelList* channels, double sampleRate)
    : mNumChannels(std::max(0, numChannels)), mSampleRate(sampleRate), mFormat(format),
      mChannels(channels ? channels : new ChannelList), mBorrowed(channels != nullptr) {
    mChannels->resize(static_cast<size_t>(mNumChannels));
}

AudioFile::~AudioFile() {
    if (!mBorrowed) delete mChannels;
}

std::unique_ptr<AudioFile> AudioFile::Load(const char* path, ChannelList* channels) {
    if (!path) return nullptr;
    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file) return nullptr;
    if (info.channels <= 0) {
        sf_close(file);
        return nullptr;
    }

    std::unique_ptr<AudioFile> sound(
        new AudioFile(info.channels, info.format, channels, info.samplerate));
    const int numChannels = info.channels;
    // 4096 interleaved samples per read.
    const int blockFrames = std::max(1, 4096 / numChannels);
    std::vector<double> block(static_cast<size_t>(blockFrames) * numChannels);
    ChannelList& list = *sound->mChannels;
    bool ok = true;
    for (;;) {
        const sf_count_t got = sf_readf_double(file, block.data(), blockFrames);
        if (got <= 0) break; // end of file or a read error
        const int frames = static_cast<int>(got);
        for (int c = 0; c < numChannels && ok; c++) {
            KIT_TypedBuf<double>& buf = list[static_cast<size_t>(c)];
            const int start = buf.GetSize();
            if (!Grow(buf, frames)) {
                ok = false;
                break;
            }
            double* dst = buf.Get() + start;
            for (int i = 0; i < frames; i++)
                dst[i] = block[static_cast<size_t>(i) * numChannels + c];
        }
        if (!ok) break;
    }
    sf_close(file);
    if (!ok) return nullptr;
    return sound;
}

bool AudioFile::Save(const char* path) const {
    // A rate the file header cannot hold is refused rather than converted.
    if (!path || !(mSampleRate >= 1.0 && mSampleRate < static_cast<double>(INT_MAX) + 1.0))
        return false;
    const ChannelList& list = *mChannels;
    const int frames = list.empty() ? 0 : list[0].GetSize();

    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.frames = frames;
    info.samplerate = static_cast<int>(mSampleRate);
    info.channels = mNumChannels;
    info.format = mFormat != kFormatFromExtension ? mFormat : FormatForExtension(path);
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (!file) return false;

    bool ok = true;
    if (!list.empty() && frames > 0) {
        const size_t numChannels = static_cast<size_t>(mNumChannels);
        const size_t count = static_cast<size_t>(frames) * numChannels;
        std::vector<float> interleaved(count, 0.0f);
        // Integer formats take samples scaled to their full scale, clipped
        // rather than wrapped when they are out of range.
        const double fullScale = IntegerFullScale(info.format);
        const float scale = fullScale > 0.0 ? static_cast<float>(fullScale) : 1.0f;
        if (fullScale > 0.0) {
            sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
            sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        }
        // Channels shorter than the first, and channels missing from a
        // borrowed list its owner shrank, are padded with the zeros above.
        for (size_t c = 0; c < std::min(numChannels, list.size()); c++) {
            const KIT_TypedBuf<double>& buf = list[c];
            const int n = std::min(frames, buf.GetSize());
            const double* src = buf.Get();
            for (int i = 0; i < n; i++)
                interleaved[static_cast<size_t>(i) * numChannels + c] =
                    static_cast<float>(src[i]) * scale;
        }
        const sf_count_t written =
            sf_write_float(file, interleaved.data(), static_cast<sf_count_t>(count));
        ok = written == static_cast<sf_count_t>(count);
    }
    // A failed close (a header that could not be rewritten) is a failed save.
    if (sf_close(file) != 0) ok = false;
    return ok;
}

bool AudioFile::HasChannel(int index) const {
    return index >= 0 && index < mNumChannels && static_cast<size_t>(index) < mChannels->size();
}

void AudioFile::GetChannel(int index, KIT_TypedBuf<double>** out) {
    if (!out || !HasChannel(index)) return;
    *out = &(*mChannels)[static_cast<size_t>(index)];
}

void AudioFile::SetChannel(int index, const KIT_TypedBuf<double>& buffer, int length) {
    if (!HasChannel(index)) return;
    KIT_TypedBuf<double>& dst = (*mChannels)[static_cast<size_t>(index)];
    if (&dst != &buffer) dst.CopyFrom(buffer);
    if (length > 0) DspUtils::ResizeFillZeros(dst, length);
}
