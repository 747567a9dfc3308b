#include "toolkit/DspUtilsAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace DspUtils {

namespace {

// Mean of f(x) over the elements first..last that lie inside data[0..n).
template <typename F> double RangeMean(const double* data, int n, int first, int last, F f) {
    const int lo = std::max(first, 0);
    const int hi = std::min(last, n - 1);
    if (!data || lo > hi) return 0.0;
    double sum = 0.0;
    for (int i = lo; i <= hi; ++i) sum += f(data[i]);
    return sum / (hi - lo + 1);
}

inline double Identity(double x) {
    return x;
}
inline double Abs(double x) {
    return std::fabs(x);
}

// The decimation kernels write output k only after reading input h > k, so
// out may be in (in-place decimation). Return the number of outputs written.
int PeakKernel(const double* in, int count, double* out, int outCount, double factor) {
    double carried = 0.0, s = 0.0;
    int k = 0;
    for (int i = 0; i < count && k < outCount; ++i) {
        double x = in[i];
        if (std::fabs(x) <= std::fabs(carried)) x = carried;
        s += factor;
        if (s >= 1.0) {
            out[k++] = x;
            s -= 1.0;
            x = 0.0;
        }
        carried = x;
    }
    return k;
}

int MinMaxKernel(const double* in, int count, double* out, int outCount, double factor) {
    double prev = in[0], last = 0.0, hi = in[0], lo = in[0], s = 0.0;
    bool signChanged = true;
    int k = 0;
    for (int i = 0; i < count && k < outCount; ++i) {
        const double h = in[i];
        if ((h > 0.0 && prev < 0.0) || (h < 0.0 && prev > 0.0)) signChanged = true;
        s += factor;
        lo = std::min(lo, h);
        hi = std::max(hi, h);
        if (s >= 1.0) {
            const bool takeMin = (signChanged && last >= 0.0) || (!signChanged && last < 0.0);
            double v;
            if (takeMin) {
                v = lo;
                lo = h;
            } else {
                v = hi;
                hi = h;
            }
            out[k++] = v;
            last = v;
            signChanged = false;
            s -= 1.0;
        }
        prev = h;
    }
    return k;
}

using Kernel = int (*)(const double*, int, double*, int, double);

void Decimate(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input, double factor,
              Kernel kernel) {
    const int count = input.GetSize();
    if (count == 0) return;
    if (factor >= 1.0) {
        output.CopyFrom(input);
        return;
    }
    if (!(factor > 0.0)) {
        output.Resize(0);
        return;
    }
    const int outCount = static_cast<int>(count * factor);
    if (&output == &input) {
        // As decimating a copy into the buffer: outputs the accumulator falls
        // short of keep the buffer's own samples there.
        double* d = output.Get();
        kernel(d, count, d, outCount, factor);
        output.Resize(outCount);
        if (output.GetSize() != outCount) output.Resize(outCount, false);
        return;
    }
    ResizeFillZeros(output, outCount);
    kernel(input.Get(), count, output.Get(), std::min(outCount, output.GetSize()), factor);
}

} // namespace

double ComputeRms(const double* data, int n) {
    if (!data || n <= 0) return 0.0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += data[i] * data[i];
    return std::sqrt(sum / n);
}

double ComputeRms(const KIT_TypedBuf<double>& buf) {
    return ComputeRms(buf.Get(), buf.GetSize());
}

double ComputeAvg(const double* data, int n) {
    return RangeMean(data, n, 0, n - 1, Identity);
}

double ComputeAvg(const KIT_TypedBuf<double>& buf) {
    return ComputeAvg(buf.Get(), buf.GetSize());
}

double ComputeAvg(const KIT_TypedBuf<double>& buf, int first, int last) {
    return RangeMean(buf.Get(), buf.GetSize(), first, last, Identity);
}

double ComputeAvgAbs(const KIT_TypedBuf<double>& buf) {
    return ComputeAvgAbs(buf.Get(), buf.GetSize());
}

double ComputeAvgAbs(const double* data, int n) {
    return RangeMean(data, n, 0, n - 1, Abs);
}

double ComputeAvgAbs(const KIT_TypedBuf<double>& buf, int first, int last) {
    return RangeMean(buf.Get(), buf.GetSize(), first, last, Abs);
}

void DecimateSamplesPeak(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input,
                         double factor) {
    Decimate(output, input, factor, PeakKernel);
}

void DecimateSamplesMinMax(KIT_TypedBuf<double>& output, const KIT_TypedBuf<double>& input,
                           double factor) {
    Decimate(output, input, factor, MinMaxKernel);
}

void DecimateSamples(KIT_TypedBuf<double>& buf, double factor) {
    Decimate(buf, buf, factor, MinMaxKernel);
}

int SecondOrderEqSolve(double roots[2], double a, double b, double c) {
    const double d = b * b - 4.0 * a * c;
    if (d > 0.0) {
        const double r = std::sqrt(d);
        roots[0] = (-b - r) / (2.0 * a);
        roots[1] = (r - b) / (2.0 * a);
        return 2;
    }
    if (std::fabs(d) < 1e-15) {
        roots[0] = -b / (2.0 * a);
        return 1;
    }
    return 0;
}

const char* GetFileExtension(const char* path) {
    if (!path) return nullptr;
    const char* dot = std::strrchr(path, '.');
    return dot ? dot + 1 : nullptr;
}

const char* GetFileName(const char* path) {
    if (!path) return nullptr;
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void AppendValuesFileBinFloat(const char* path, const KIT_TypedBuf<double>& buf) {
    if (!path) return;
    std::FILE* file = std::fopen(path, "ab+");
    if (!file) return;
    // Converted in small chunks: no temporary on the heap.
    float chunk[256];
    const int count = buf.GetSize();
    for (int start = 0; start < count; start += 256) {
        const int n = std::min(256, count - start);
        for (int i = 0; i < n; ++i) chunk[i] = static_cast<float>(buf[start + i]);
        if (std::fwrite(chunk, sizeof(float), static_cast<size_t>(n), file) !=
            static_cast<size_t>(n))
            break;
    }
    std::fclose(file);
}

} // namespace DspUtils
