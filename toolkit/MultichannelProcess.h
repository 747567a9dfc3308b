#pragma once
// Cross-channel observer of the STFT engine (FftProcessObj16): registered
// processes see all main channels at each stage of every frame, before the
// channels' own processors of that stage. Within a frame every process sees
// all spectra (ProcessSpectrum) before any channel's ProcessObj::ProcessSpectrum.
//
// "mains" holds one pointer per main channel to the engine's buffer of that
// stage (modifiable); "sc" points to copies of the linked side-chain channels'
// buffers of the same kind (one per main channel with a link), or is null when
// the engine has no side-chain channels.
//
// All hooks run on the audio thread inside FftProcessObj16::Process (the frame
// hooks inside its frame loop), the resets on the audio thread or under the
// plug-in lock: no allocation, no locks.
#include "toolkit/ComplexValue.h"
#include "toolkit/KIT_TypedBuf.h"

#include <vector>

class MultichannelProcess {
public:
    using SampleBufs = std::vector<KIT_TypedBuf<double>*>;
    using SpectrumBufs = std::vector<KIT_TypedBuf<ComplexValue>*>;
    using SampleCopies = std::vector<KIT_TypedBuf<double>>;
    using SpectrumCopies = std::vector<KIT_TypedBuf<ComplexValue>>;

    MultichannelProcess() = default;
    virtual ~MultichannelProcess() = default;
    MultichannelProcess(const MultichannelProcess&) = delete;
    MultichannelProcess& operator=(const MultichannelProcess&) = delete;

    virtual void Reset() {}
    // The engine calls this one at every reset of its own.
    virtual void Reset(int bufferSize, int overlapping, int freqRes, double sampleRate) {}

    // mains point to the engine's own copies of the host input blocks, before
    // they are buffered: contents and lengths may be replaced, and what is left
    // is what the channels buffer. sc: copies of the side-chain blocks.
    virtual void ProcessInputBlock(const SampleBufs& mains, const SampleCopies* sc) {}
    // mains = the main channels' input FIFOs.
    virtual void ProcessFrame(const SampleBufs& mains, const SampleCopies* sc) {}
    // mains = the input FIFOs.
    virtual void ProcessWindowedFrame(const SampleBufs& mains, const SampleCopies* sc) {}
    // mains = the main channels' spectra, natural bin order.
    virtual void ProcessSpectrum(const SpectrumBufs& mains, const SpectrumCopies* sc) {}
    // mains = the spectra, after every channel's own spectrum hook.
    virtual void ProcessSpectrumPost(const SpectrumBufs& mains, const SpectrumCopies* sc) {}
    // mains = the main channels' result buffers.
    virtual void ProcessIfftResult(const SampleBufs& mains, const SampleCopies* sc) {}
    // mains = the result buffers after the synthesis window.
    virtual void ProcessWindowedResult(const SampleBufs& mains, const SampleCopies* sc) {}
};
