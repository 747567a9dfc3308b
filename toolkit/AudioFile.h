#pragma once
// A multichannel sound held in memory as one buffer of 64-bit samples per
// channel, read from and written to sound files through libsndfile. Offline
// tool code only: every member may allocate and do file I/O.
#include "toolkit/KIT_TypedBuf.h"

#include <memory>
#include <vector>

class AudioFile {
public:
    using ChannelList = std::vector<KIT_TypedBuf<double>>;

    // libsndfile format codes chosen by Save from the path's extension.
    static constexpr int kFormatWavFloat = 0x10006;  // WAV, 32-bit float
    static constexpr int kFormatAiffFloat = 0x20006; // AIFF, 32-bit float
    static constexpr int kFormatFlac24 = 0x170003;   // FLAC, 24-bit
    static constexpr int kFormatFromExtension = -1;

    // channels: the caller's list, borrowed (it must outlive this object), or
    // null for a list of our own. The list is resized to numChannels (negative
    // counts as 0); channels it gains are empty. sampleRate in Hz.
    AudioFile(int numChannels, int format, ChannelList* channels, double sampleRate);
    virtual ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    // Reads a whole sound file. The object takes the file's channel count,
    // format and rate; its samples are appended to the channels of `channels`
    // (borrowed as in the constructor) or of a list of its own. Samples are
    // libsndfile's normalised doubles (integer formats scaled to [-1, 1)).
    // Null when the file cannot be opened or memory runs out.
    static std::unique_ptr<AudioFile> Load(const char* path, ChannelList* channels = nullptr);

    // Writes every channel as 32-bit floats (FLAC: 24-bit integers) over the
    // first channel's length; a shorter channel is padded with zeros. The
    // format comes from the path's extension ("wav" or none, "aif"/"aiff",
    // "flac") unless a format other than kFormatFromExtension was given.
    // False when the file cannot be opened (an unknown extension included),
    // when the path is null, when the rate is not from 1 Hz to INT_MAX Hz or
    // when fewer samples than asked were written.
    bool Save(const char* path) const;

    int GetNumChannels() const { return mNumChannels; }
    double GetSampleRate() const { return mSampleRate; }
    int GetFormat() const { return mFormat; }

    // *out becomes that channel's buffer (owned by the list) when index is a
    // valid channel; *out is left as it was otherwise.
    void GetChannel(int index, KIT_TypedBuf<double>** out);
    // Channel index becomes a copy of buffer; with length > 0 it is then cut
    // or zero-extended to length samples. Nothing for an invalid index.
    void SetChannel(int index, const KIT_TypedBuf<double>& buffer, int length);

private:
    // index names a channel of the count and of the list (a borrowed list
    // may have been shrunk by its owner).
    bool HasChannel(int index) const;

    int mNumChannels;
    double mSampleRate;
    int mFormat;
    ChannelList* mChannels;
    bool mBorrowed;
};
