#pragma once
// The engine's inner loops, each written three times: Scalar (1 float per
// step, the reference), Vector (4 floats, one SSE register) and Vector2
// (8 floats, two registers). The summation order of each family is part of
// the results' contract:
//   Scalar:  s = 0; s = s + a[k] * b[k] for k = 0 .. n-1
//   Vector:  lane j sums the products with k % 4 == j; (s0 + s1) + (s2 + s3)
//   Vector2: lanes A take k % 8 in 0..3, lanes B k % 8 in 4..7, each as in
//            Vector; hsum(A) + hsum(B)
// Every product and sum is rounded to float (the library is built without
// contraction into fused multiply-add). Vector kernels need n to be a
// multiple of their width; loads are unaligned-safe. No kernel allocates.
// [any thread]
namespace nn {

enum class KernelKind { Scalar, Vector, Vector2 };

// The split operations' kernel choice for inner length L and a pool of
// threadsCount (>= 1): q = L / threadsCount; Vector2 if q != 0 and both q and
// L are multiples of 8; else Vector if q != 0 and both are multiples of 4;
// else Scalar.
KernelKind chooseKernel(int innerLength, int threadsCount);
// Max pooling's choice: Vector under the Vector rule above, else Scalar.
KernelKind chooseMaxKernel(int innerLength, int threadsCount);

// Calls run(tag) with a value of the kernel tag that chooseKernel picks, e.g.
//   withKernel<ScalarAdd, VectorAdd, Vector2Add>(n, threads, [&](auto kernel) {
//       addImpl<decltype(kernel)>(...); });
template <typename Scalar, typename Vector, typename Vector2, typename Run>
void withKernel(int innerLength, int threadsCount, const Run& run) {
    switch (chooseKernel(innerLength, threadsCount)) {
    case KernelKind::Vector2:
        run(Vector2{});
        break;
    case KernelKind::Vector:
        run(Vector{});
        break;
    case KernelKind::Scalar:
        run(Scalar{});
        break;
    }
}

// other: (n), out: (n) in place -> out[i] = other[i] + out[i]
struct ScalarAdd {
    static constexpr int width = 1;
    static void run(const float* other, float* out, int n);
};
struct VectorAdd {
    static constexpr int width = 4;
    static void run(const float* other, float* out, int n);
};
struct Vector2Add {
    static constexpr int width = 8;
    static void run(const float* other, float* out, int n);
};

// other: (n), out: (n) in place -> out[i] = out[i] * other[i]
struct ScalarMultiply {
    static constexpr int width = 1;
    static void run(const float* other, float* out, int n);
};
struct VectorMultiply {
    static constexpr int width = 4;
    static void run(const float* other, float* out, int n);
};
struct Vector2Multiply {
    static constexpr int width = 8;
    static void run(const float* other, float* out, int n);
};

// run: a, scale: (n), out: (n) in place -> out[i] = a[i] * scale[i] + out[i]
//      (product rounded before the sum).
// sum: a, b: (n) -> the family's sum of a[k] * b[k] over k < n (0 for n == 0).
struct ScalarMultiplyAdd {
    static constexpr int width = 1;
    static void run(const float* a, const float* scale, float* out, int n);
    static float sum(const float* a, const float* b, int n);
};
struct VectorMultiplyAdd {
    static constexpr int width = 4;
    static void run(const float* a, const float* scale, float* out, int n);
    static float sum(const float* a, const float* b, int n);
};
struct Vector2MultiplyAdd {
    static constexpr int width = 8;
    static void run(const float* a, const float* scale, float* out, int n);
    static float sum(const float* a, const float* b, int n);
};

// in: (n), out: (n) in place -> out[i] = out[i] > in[i] ? out[i] : in[i]
struct ScalarMax {
    static constexpr int width = 1;
    static void run(const float* in, float* out, int n);
};
struct VectorMax {
    static constexpr int width = 4;
    static void run(const float* in, float* out, int n);
};

} // namespace nn
