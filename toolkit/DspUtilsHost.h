#pragma once
// Moving audio between the host's channel pointers and the plug-in's channel
// lists. All of these run on the audio thread, once per block.
//
// GetPlugIOBuffers is a template over the plug-in type, which must provide:
//   int  NInChannels() const;                 // main plus side-chain inputs
//   int  NOutChannels() const;
//   int  NSideChainChannels() const;
//   bool IsInputChannelConnected(int i) const;  // false when i does not exist
//   bool IsOutputChannelConnected(int i) const; // false when i does not exist
#include "toolkit/DspUtils.h"

#include <cstring>

namespace DspUtils {

// [audio thread] no allocation, no locks
// True only when both lists are non-empty, the first buffer of each is silent
// (an empty buffer counts as silent) and, when both lists hold at least two
// buffers, the second buffer of each is silent too.
bool PlugIOAllZero(const ChannelList& a, const ChannelList& b);

// [audio thread] no allocation, no locks
// For channels 0 and 1: copies frames samples when both pointers are non-null.
// Both arrays hold at least two entries (or are null: nothing is copied).
void CopyStereoBuffers(const double* const* src, double* const* dst, int frames);

// [audio thread] no allocation, no locks
// Buffer i goes to hostOutputs[i] when that pointer is non-null and the
// buffer holds exactly frames samples. hostOutputs holds at least
// channels.size() entries (null array: nothing).
void PlugCopyOutputs(const ChannelList& channels, double* const* hostOutputs, int frames);

namespace detail {

// Makes list[count] a copy of frames samples from src and counts it. The
// list's buffers are reused: once they have their size nothing allocates. A
// buffer that cannot take frames samples is not counted.
inline void AppendChannelCopy(ChannelList& list, int& count, const double* src, int frames) {
    if (static_cast<int>(list.size()) <= count) list.resize(static_cast<size_t>(count) + 1);
    KIT_TypedBuf<double>& buf = list[static_cast<size_t>(count)];
    // No shrink: a shorter block must not reallocate on the audio thread.
    buf.Resize(frames, false);
    if (buf.GetSize() != frames) return;
    if (frames > 0) std::memcpy(buf.Get(), src, sizeof(double) * static_cast<size_t>(frames));
    ++count;
}

} // namespace detail

// [audio thread] no allocation once the lists have their steady sizes
// Fills the three lists with copies of the host's channels: up to two main
// inputs, up to two side-chain inputs (inputs M and M + 1, M = inputs minus
// side-chain count) and up to two outputs, each taken only when connected and
// its host pointer is non-null. Afterwards the lists hold exactly the channels
// found. When one main input was found, hostInputs[1] is set to null (only
// when the plug-in has a second input entry); likewise hostOutputs[1] for one
// output. Null pointer arrays count as all-null; frames < 0 counts as 0.
template <typename Plug>
void GetPlugIOBuffers(const Plug& plug, double** hostInputs, double** hostOutputs, int frames,
                      ChannelList& mainInputs, ChannelList& sideChainInputs, ChannelList& outputs) {
    if (frames < 0) frames = 0;
    const int numIn = plug.NInChannels();
    const int numSc = plug.NSideChainChannels();
    const int numMain = numIn - numSc;

    const auto takeInput = [&](int channel, ChannelList& list, int& count) {
        if (!hostInputs || channel < 0 || channel >= numIn) return;
        if (!plug.IsInputChannelConnected(channel) || !hostInputs[channel]) return;
        detail::AppendChannelCopy(list, count, hostInputs[channel], frames);
    };

    int mains = 0, scs = 0, outs = 0;
    if (numMain >= 1) takeInput(0, mainInputs, mains);
    if (numMain >= 2) takeInput(1, mainInputs, mains);
    if (numSc >= 1) takeInput(numMain, sideChainInputs, scs);
    if (numSc >= 2) takeInput(numMain + 1, sideChainInputs, scs);

    const int numOut = plug.NOutChannels();
    for (int channel = 0; channel < 2 && channel < numOut && hostOutputs; ++channel) {
        if (plug.IsOutputChannelConnected(channel) && hostOutputs[channel])
            detail::AppendChannelCopy(outputs, outs, hostOutputs[channel], frames);
    }

    mainInputs.resize(static_cast<size_t>(mains));
    sideChainInputs.resize(static_cast<size_t>(scs));
    outputs.resize(static_cast<size_t>(outs));

    if (mains == 1 && hostInputs && numIn >= 2) hostInputs[1] = nullptr;
    if (outs == 1 && hostOutputs && numOut >= 2) hostOutputs[1] = nullptr;
}

} // namespace DspUtils
