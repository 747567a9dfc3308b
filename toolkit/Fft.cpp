#include "toolkit/Fft.h"

#include "toolkit/FftKernels.h"

#include <cmath>
#include <vector>

namespace {

using fftdetail::kMaxLog2;
using fftdetail::kMinLog2;
using fftdetail::TwiddleSet;

constexpr int kMaxSize = 1 << kMaxLog2;
constexpr double kTwoPi = 6.283185307179586476925286766559;

// Built once by the first caller (function-local static: the C++ runtime
// makes concurrent first calls wait for one construction).
struct Tables {
    std::vector<ComplexValue> twiddleStore;
    TwiddleSet twiddles{};
    // For every n = 2..32768 a run of n entries at n - 2: entry k is the
    // position of natural bin k in the forward output.
    std::vector<int> permutation;
    bool avx2 = false;

    Tables() {
        BuildTwiddles();
        BuildPermutation();
        avx2 = fftdetail::Avx2Usable();
    }

    void BuildTwiddles() {
        size_t total = 0;
        for (int L = 3; L <= kMaxLog2; ++L) total += size_t(1) << (L - 2);
        twiddleStore.resize(total);
        size_t offset = 0;
        for (int L = 3; L <= kMaxLog2; ++L) {
            const int n = 1 << L, q = n / 4;
            ComplexValue* w = twiddleStore.data() + offset;
            // Angles of the first octant come straight from cos/sin; the
            // second octant uses the symmetry cos(pi/2 - x) = sin(x), which
            // keeps every entry within an ulp of the exact value.
            for (int t = 0; t < q; ++t) {
                const int u = t <= q / 2 ? t : q - t;
                const double angle = kTwoPi * u / n;
                const double c = std::cos(angle), s = std::sin(angle);
                w[t] = t <= q / 2 ? ComplexValue{c, s} : ComplexValue{s, c};
            }
            twiddles.twiddle[L] = w;
            offset += size_t(q);
        }
    }

    void BuildPermutation() {
        permutation.assign(2 * kMaxSize - 2, 0);
        // split[n] = P(i, n) for i < n, built from the runs of n/2 and n/4.
        std::vector<std::vector<int>> split(kMaxLog2 + 1);
        split[0].assign(1, 0); // P(0, 1) = 0: the quarters of n = 4
        for (int L = kMinLog2; L <= kMaxLog2; ++L) {
            const int n = 1 << L;
            std::vector<int>& p = split[L];
            p.resize(n);
            if (n < 3) {
                for (int i = 0; i < n; ++i) p[i] = i;
            } else {
                const int h = n / 2, q = n / 4;
                const std::vector<int>& half = split[L - 1];
                const std::vector<int>& quarter = split[L - 2];
                for (int i = 0; i < h; ++i) p[i] = 2 * half[i];
                for (int i = 0; i < q; ++i) p[h + i] = 4 * quarter[i] + 1;
                for (int i = 0; i < q; ++i) p[h + q + i] = (4 * quarter[i] - 1) & (n - 1);
            }
            int* run = permutation.data() + (n - 2);
            for (int i = 0; i < n; ++i) run[(n - p[i]) & (n - 1)] = i;
        }
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

int Log2IfSupported(int n) {
    if (n < 2 || n > kMaxSize || (n & (n - 1)) != 0) return -1;
    int L = 0;
    while ((1 << L) < n) ++L;
    return L;
}

} // namespace

void FftInit() {
    (void)GetTables();
}

bool FftIsSupportedSize(int n) {
    return Log2IfSupported(n) > 0;
}

void FftComplex(ComplexValue* data, int n, int inverse) {
    const int L = Log2IfSupported(n);
    if (L < 0 || !data) return;
    const Tables& t = GetTables();
    if (t.avx2) {
        if (inverse)
            fftdetail::InverseAvx2(data, L, t.twiddles);
        else
            fftdetail::ForwardAvx2(data, L, t.twiddles);
        return;
    }
    if (inverse)
        fftdetail::InverseReference(data, L, t.twiddles);
    else
        fftdetail::ForwardReference(data, L, t.twiddles);
}

void FftComplexReference(ComplexValue* data, int n, int inverse) {
    const int L = Log2IfSupported(n);
    if (L < 0 || !data) return;
    const Tables& t = GetTables();
    if (inverse)
        fftdetail::InverseReference(data, L, t.twiddles);
    else
        fftdetail::ForwardReference(data, L, t.twiddles);
}

const int* FftPermuteTable(int n) {
    if (Log2IfSupported(n) < 0) return nullptr;
    return GetTables().permutation.data() + (n - 2);
}

int FftPermuteIndex(int n, int k) {
    const int* run = FftPermuteTable(n);
    if (!run || k < 0 || k >= n) return k;
    return run[k];
}
