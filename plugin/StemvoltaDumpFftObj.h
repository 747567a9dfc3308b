#pragma once
// Capture processor of the training-data export: one per stem, driven by an
// STFT engine with the mixture as its main channel and that stem's source as
// the linked side-chain channel; it serves both channels (on the side-chain
// channel, which has no side chain of its own, it only drops the hops). At
// every frame it keeps the magnitudes of
// the last four half spectra of both (oldest first) and records a copy of
// the two histories as a Slice, which the exporter collects and clears.
//
// [export thread] offline only: every frame allocates.
#include "toolkit/KIT_TypedBuf.h"
#include "toolkit/ProcessObj.h"

#include <deque>
#include <vector>

class StemvoltaDumpFftObj : public ProcessObj {
public:
    static constexpr int kHistorySize = 4;

    // One captured frame: both histories at that frame, oldest entry first,
    // each entry bufferSize / 2 magnitudes.
    class Slice {
    public:
        Slice() = default;
        virtual ~Slice() = default;
        Slice(Slice&&) = default;
        Slice& operator=(Slice&&) = default;

        std::vector<KIT_TypedBuf<double>> mix;
        std::vector<KIT_TypedBuf<double>> source;
    };

    // Both histories start as four entries of bufferSize / 2 zeros.
    explicit StemvoltaDumpFftObj(int bufferSize);

    // spectrum: the mixture's bufferSize * freqRes bins in natural order;
    // scSpectrum: the source's, or null (then nothing is captured).
    void ProcessSpectrum(KIT_TypedBuf<ComplexValue>* spectrum,
                         const KIT_TypedBuf<ComplexValue>* scSpectrum) override;

    // The export reads no audio back: every hop is dropped, so the output
    // FIFOs of the channels this object serves stay empty and the engine has
    // nothing to drain.
    void ProcessOutputHop(KIT_TypedBuf<double>* hop) override;

    const std::vector<Slice>& GetSlices() const { return mSlices; }
    // Moves the captured slices into out (replacing its contents) and leaves
    // the list empty.
    void TakeSlices(std::vector<Slice>* out);
    void ClearSlices() { mSlices.clear(); }

private:
    static void PushHistory(std::deque<KIT_TypedBuf<double>>& history,
                            const KIT_TypedBuf<ComplexValue>& spectrum);
    static std::vector<KIT_TypedBuf<double>>
    CopyHistory(const std::deque<KIT_TypedBuf<double>>& history);

    std::deque<KIT_TypedBuf<double>> mMixHistory;
    std::deque<KIT_TypedBuf<double>> mSourceHistory;
    std::vector<Slice> mSlices;
};
