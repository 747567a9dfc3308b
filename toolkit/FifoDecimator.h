#pragma once
// Fixed-length history of a signal for display: every appended block is first
// decimated, then added at the end; the oldest values beyond the maximum size
// are dropped.
#include "toolkit/KIT_TypedBuf.h"

#include <cstdint>

class FifoDecimator {
public:
    // Maximum size 0 (keeps nothing), factor 1.0, no values.
    explicit FifoDecimator(bool minMaxMode);
    // The history starts as maxSize zeros.
    FifoDecimator(int64_t maxSize, double decimFactor, bool minMaxMode);
    virtual ~FifoDecimator() = default;

    FifoDecimator(const FifoDecimator&) = delete;
    FifoDecimator& operator=(const FifoDecimator&) = delete;

    // Store the settings; the history is resized only by the next AddValues.
    // decimFactor is the fraction of values kept (at most 1.0).
    void SetParams(int64_t maxSize, double decimFactor);
    void SetParams(int64_t maxSize, double decimFactor, bool minMaxMode);

    // Zeroes every stored value; the number of values stays.
    void Reset();

    // [audio thread] Decimates block (min/max or peak mode), appends it and
    // keeps the newest maxSize values. Allocates only while the history and
    // its scratch grow to their working size (the first blocks of a size).
    // With maxSize 0 it only empties the history, so an unused tracker costs
    // nothing per frame.
    void AddValues(const KIT_TypedBuf<double>& block);

    // out becomes a copy of the history, oldest first.
    void GetValues(KIT_TypedBuf<double>* out) const;

private:
    int64_t mMaxSize;
    double mDecimFactor;
    bool mMinMax;
    KIT_TypedBuf<double> mValues;
    KIT_TypedBuf<double> mDecimated; // scratch of AddValues
};
