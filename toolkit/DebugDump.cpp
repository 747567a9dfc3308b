#include "toolkit/DebugDump.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kTwoPi = 6.28318530717958647692;
constexpr int kPathSize = 512;

// Opens name in the debug folder; null when that is not possible.
FILE* OpenDump(const char* name, const char* mode) {
    char path[kPathSize];
    if (!MakeDebugDumpPath(name, path, kPathSize)) return nullptr;
    return std::fopen(path, mode);
}

void WriteDoubles(FILE* f, const double* data, int n) {
    for (int i = 0; i < n; ++i) std::fprintf(f, "%g ", data[i]);
}

template <typename Int> void DumpInts(const char* name, const Int* data, int n) {
    FILE* f = OpenDump(name, "w");
    if (!f) return;
    for (int i = 0; data && i < n; ++i) std::fprintf(f, "%d ", static_cast<int>(data[i]));
    std::fclose(f);
}

void DumpDoubles(const char* name, const char* mode, const double* data, int n) {
    FILE* f = OpenDump(name, mode);
    if (!f) return;
    if (data) WriteDoubles(f, data, n);
    std::fclose(f);
}

} // namespace

bool MakeDebugDumpPath(const char* name, char* path, int size) {
    const char* home = std::getenv("HOME");
    if (!name || !path || size <= 0 || !home || !*home) return false;
    const int len = std::snprintf(path, static_cast<size_t>(size),
                                  "%s/Documents/CorvenaAudio-Debug/%s", home, name);
    return len >= 0 && len < size;
}

void DumpText(const char* name, const char* text) {
    FILE* f = OpenDump(name, "a+");
    if (!f) return;
    std::fprintf(f, "%s\n", text ? text : "");
    std::fclose(f);
}

void DumpData(const char* name, const double* data, int n) {
    DumpDoubles(name, "w", data, n);
}

void DumpData(const char* name, const KIT_TypedBuf<double>& data) {
    DumpDoubles(name, "w", data.Get(), data.GetSize());
}

void DumpData(const char* name, const int* data, int n) {
    DumpInts(name, data, n);
}

void DumpData(const char* name, const int16_t* data, int n) {
    DumpInts(name, data, n);
}

void DumpDataAppend(const char* name, const double* data, int n) {
    DumpDoubles(name, "a+", data, n);
}

void DumpValue(const char* name, double value, bool append) {
    DumpDoubles(name, append ? "a+" : "w", &value, 1);
}

void DumpIntAppend(const char* name, int value) {
    FILE* f = OpenDump(name, "a");
    if (!f) return;
    std::fprintf(f, "%d ", value);
    std::fclose(f);
}

void DumpData2D(const char* name, const double* data, int width, int height) {
    FILE* f = OpenDump(name, "w");
    if (!f) return;
    for (int row = 0; data && width > 0 && row < height; ++row) {
        WriteDoubles(f, data + static_cast<int64_t>(row) * width, width);
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

void DumpComplex(const char* magnName, const char* phaseName, const ComplexValue* data, int n) {
    FILE* magns = OpenDump(magnName, "w");
    FILE* phases = OpenDump(phaseName, "w");
    for (int i = 0; data && i < n; ++i) {
        if (magns)
            std::fprintf(magns, "%g ",
                         std::sqrt(data[i].re * data[i].re + data[i].im * data[i].im));
        if (phases) std::fprintf(phases, "%g ", std::atan2(data[i].im, data[i].re));
    }
    if (magns) std::fclose(magns);
    if (phases) std::fclose(phases);
}

void DumpMagnPhase(const char* magnName, const char* phaseName, const double* magns,
                   const double* phases, int n) {
    DumpDoubles(magnName, "w", magns, n);
    DumpDoubles(phaseName, "w", phases, n);
}

void DumpPhasesUnwrapped(const char* name, const double* phases, int n) {
    if (!phases || n <= 0) return;
    FILE* f = OpenDump(name, "w");
    if (!f) return;
    double prev = phases[0];
    std::fprintf(f, "%g ", prev);
    for (int i = 1; i < n; ++i) {
        double v = phases[i];
        if (std::isfinite(v) && std::isfinite(prev) && v < prev) {
            // Whole turns at once: adding 2 pi one at a time never ends for
            // values far below prev, where 2 pi is under their precision.
            v += std::ceil((prev - v) / kTwoPi) * kTwoPi;
            for (int guard = 0; v < prev && guard < 4; ++guard) v += kTwoPi;
        }
        std::fprintf(f, "%g ", v);
        prev = v;
    }
    std::fclose(f);
}

int ReadData(const char* name, double* data, int n) {
    FILE* f = OpenDump(name, "rb");
    if (!f) return 0;
    int read = 0;
    while (data && read < n && std::fscanf(f, "%lf", &data[read]) == 1) ++read;
    std::fclose(f);
    return read;
}
