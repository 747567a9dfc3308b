#include "toolkit/DbgSpectrogram.h"

#include "toolkit/DebugDump.h"
#include "toolkit/DspUtilsAnalysis.h"
#include "toolkit/DspUtilsScale.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr double kDbFloorAmp = 1e-15;
constexpr double kDbRangeStart = -120.0;

FILE* OpenDebugFile(const char* name) {
    char path[512];
    if (!name || !MakeDebugDumpPath(name, path, static_cast<int>(sizeof(path)))) return nullptr;
    return std::fopen(path, "w");
}

} // namespace

DbgSpectrogram::DbgSpectrogram(int height, int maxColumns)
    : mHeight(std::max(0, height)), mMaxColumns(maxColumns) {
    Prefill();
}

void DbgSpectrogram::SetYLogScale(bool on, double factor) {
    mYLogScale = on;
    mYLogFactor = factor;
}

void DbgSpectrogram::SetAmpDb(bool on) {
    mAmpDb = on;
}

void DbgSpectrogram::Reset() {
    mColumns.clear();
}

void DbgSpectrogram::Reset(int height, int maxColumns) {
    mColumns.clear();
    mHeight = std::max(0, height);
    mMaxColumns = maxColumns;
    Prefill();
}

void DbgSpectrogram::Prefill() {
    for (int i = 0; i < mMaxColumns; i++) {
        KIT_TypedBuf<double> zeros;
        zeros.Set(nullptr, mHeight);
        mColumns.push_back(std::move(zeros));
    }
}

bool DbgSpectrogram::GetLine(int i, KIT_TypedBuf<double>* out) const {
    if (!out || i < 0 || i >= GetNumColumns()) return false;
    out->CopyFrom(mColumns[static_cast<size_t>(i)]);
    return true;
}

void DbgSpectrogram::AddLine(const KIT_TypedBuf<double>& magnitudes) {
    if (magnitudes.GetSize() < mHeight) return;
    KIT_TypedBuf<double> column;
    column.CopyFrom(magnitudes);
    if (mYLogScale) DspUtils::WarpExpAxis(column, mYLogFactor);
    if (mHeight < column.GetSize())
        DspUtils::DecimateSamples(column, static_cast<double>(mHeight) / column.GetSize());
    if (mAmpDb) DspUtils::AmpToDbNorm(column, kDbFloorAmp, kDbRangeStart);
    mColumns.push_back(std::move(column));
    if (mMaxColumns > 0 && GetNumColumns() > mMaxColumns) mColumns.pop_front();
}

void DbgSpectrogram::SavePPM(const char* name, int maxValue) const {
    if (mColumns.empty()) return;
    FILE* f = OpenDebugFile(name);
    if (!f) return;
    const int rows = mColumns.front().GetSize();
    std::fprintf(f, "P3\n");
    std::fprintf(f, "%ld %d\n", static_cast<long>(mColumns.size()), rows);
    std::fprintf(f, "%d\n", maxValue);
    for (int bin = rows - 1; bin >= 0; bin--) {
        for (const KIT_TypedBuf<double>& column : mColumns) {
            // Columns may be shorter than the first (decimation rounds down).
            const double value = bin < column.GetSize() ? column[bin] : 0.0;
            // NaN compares false and ends up at maxValue, never in the cast.
            const double scaled = std::min(static_cast<double>(maxValue), value * maxValue);
            const int v = scaled > 0.0 ? static_cast<int>(scaled) : 0;
            std::fprintf(f, "%d %d %d\n", v, v, v);
        }
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

void DbgSpectrogram::SaveText(const char* name) const {
    if (!name) return;
    const std::string file = std::string(name) + "-magns";
    FILE* f = OpenDebugFile(file.c_str());
    if (!f) return;
    for (const KIT_TypedBuf<double>& column : mColumns) {
        for (int i = 0; i < column.GetSize(); i++) std::fprintf(f, "%g ", column[i]);
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}
