#pragma once
// Magnitude spectra collected column by column (oldest first) and written as
// a picture into the debug folder (see DebugDump.h). A developer aid: it
// allocates and writes files, so it belongs on diagnostic paths only.
// [any thread] not thread-safe; never on a real-time path that is switched on.
#include "toolkit/KIT_TypedBuf.h"

#include <deque>

class DbgSpectrogram {
public:
    // height: values kept per column. maxColumns > 0: the picture starts with
    // that many zero columns and the oldest column is dropped beyond it; 0 or
    // -1: no limit.
    DbgSpectrogram(int height, int maxColumns);
    virtual ~DbgSpectrogram() = default;
    DbgSpectrogram(const DbgSpectrogram&) = delete;
    DbgSpectrogram& operator=(const DbgSpectrogram&) = delete;

    // Columns are warped by WarpExpAxis(factor) before they are stored.
    void SetYLogScale(bool on, double factor);
    // Columns are stored as normalised dB (0 at -120 dB, 1 at 0 dB).
    void SetAmpDb(bool on);

    void Reset();
    void Reset(int height, int maxColumns);

    int GetNumColumns() const { return static_cast<int>(mColumns.size()); }
    int GetMaxColumns() const { return mMaxColumns; }
    int GetHeight() const { return mHeight; }
    // *out becomes a copy of column i (0 = oldest); false when i is out of range.
    bool GetLine(int i, KIT_TypedBuf<double>* out) const;

    // Appends a column; ignored when it holds fewer than height values. A
    // longer column is decimated to height values.
    void AddLine(const KIT_TypedBuf<double>& magnitudes);

    // P3 picture in the debug folder: one pixel column per stored column,
    // as many rows as the first column has values, highest bin at the top.
    // Grey level min(maxValue, value * maxValue), 0 below zero and where a
    // column is shorter than the first. Nothing when there is no column.
    void SavePPM(const char* name, int maxValue) const;
    void SavePPM8(const char* name) const { SavePPM(name, 255); }
    void SavePPM16(const char* name) const { SavePPM(name, 65535); }
    // name + "-magns" in the debug folder: one text line of "%g " per column.
    void SaveText(const char* name) const;

private:
    void Prefill();

    int mHeight;
    int mMaxColumns;
    bool mYLogScale = false;
    double mYLogFactor = 1.0;
    bool mAmpDb = false;
    std::deque<KIT_TypedBuf<double>> mColumns;
};
