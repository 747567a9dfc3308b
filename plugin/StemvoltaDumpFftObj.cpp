#include "plugin/StemvoltaDumpFftObj.h"

#include "toolkit/DspUtilsSpectrum.h"

#include <cstring>
#include <utility>

namespace {

void FillZeros(std::deque<KIT_TypedBuf<double>>& history, int count, int size) {
    for (int i = 0; i < count; ++i) {
        KIT_TypedBuf<double> entry;
        entry.Resize(size);
        if (size > 0 && entry.Get()) std::memset(entry.Get(), 0, sizeof(double) * size);
        history.push_back(std::move(entry));
    }
}

} // namespace

StemvoltaDumpFftObj::StemvoltaDumpFftObj(int bufferSize) : ProcessObj(bufferSize) {
    FillZeros(mMixHistory, kHistorySize, bufferSize / 2);
    FillZeros(mSourceHistory, kHistorySize, bufferSize / 2);
}

void StemvoltaDumpFftObj::PushHistory(std::deque<KIT_TypedBuf<double>>& history,
                                      const KIT_TypedBuf<ComplexValue>& spectrum) {
    KIT_TypedBuf<ComplexValue> half;
    half.Set(spectrum.Get(), spectrum.GetSize() / 2);
    KIT_TypedBuf<double> magns;
    DspUtils::ComplexToMagn(magns, half);
    history.push_back(std::move(magns));
    if (history.size() > kHistorySize) history.pop_front();
}

std::vector<KIT_TypedBuf<double>>
StemvoltaDumpFftObj::CopyHistory(const std::deque<KIT_TypedBuf<double>>& history) {
    std::vector<KIT_TypedBuf<double>> copy(history.size());
    for (size_t i = 0; i < history.size(); ++i) copy[i].CopyFrom(history[i], true);
    return copy;
}

void StemvoltaDumpFftObj::ProcessSpectrum(KIT_TypedBuf<ComplexValue>* spectrum,
                                          const KIT_TypedBuf<ComplexValue>* scSpectrum) {
    if (!spectrum || !scSpectrum) return;
    PushHistory(mMixHistory, *spectrum);
    PushHistory(mSourceHistory, *scSpectrum);
    Slice slice;
    slice.mix = CopyHistory(mMixHistory);
    slice.source = CopyHistory(mSourceHistory);
    mSlices.push_back(std::move(slice));
}

void StemvoltaDumpFftObj::ProcessOutputHop(KIT_TypedBuf<double>* hop) {
    if (hop) hop->Resize(0, false);
}

void StemvoltaDumpFftObj::TakeSlices(std::vector<Slice>* out) {
    if (!out) return;
    *out = std::move(mSlices);
    mSlices.clear();
}
