#pragma once
// Fades in the first block after a restart: once armed, the first half of
// the next block of every channel is multiplied by the rising half of a Hann
// window the length of the block, so playback resumes without a click.
#include "toolkit/KIT_TypedBuf.h"

#include <vector>

class SecureRestarter {
public:
    // Armed at construction: the very first block is faded in.
    SecureRestarter() = default;
    virtual ~SecureRestarter() = default;
    SecureRestarter(const SecureRestarter&) = delete;
    SecureRestarter& operator=(const SecureRestarter&) = delete;

    // [audio thread] no allocation, no locks.
    void Arm() { mArmed = true; }
    bool IsArmed() const { return mArmed; }

    // [setup] allocates. Builds the window for blocks of blockSize samples
    // and makes room for blocks up to that size, so that Process allocates
    // nothing for them. Changes neither the armed state nor any result.
    void Prepare(int blockSize);

    // [audio thread] When armed, fades in samples 0 .. n/2 - 1 of every
    // channel whose length equals the first channel's, n (channels of another
    // length and blocks shorter than 2 are left alone). Any non-empty list
    // disarms; an empty list changes nothing. Allocates only when a block
    // longer than every earlier armed or prepared block arrives.
    void Process(std::vector<KIT_TypedBuf<double>>& channels);

private:
    // The window for n samples; false when it could not be grown.
    bool BuildWindow(int n);

    bool mArmed = true;
    int mWindowLength = -1;
    KIT_TypedBuf<double> mWindow; // Hann window of mWindowLength samples
};
