#include "nn/nn_dense_rows.h"

#include "tests/nn/LayerTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using layerref::Kind;

enum class Path { Sse, Avx, Fastest };

struct RowsCase {
    Kind kind;
    Path path;
};

struct Shape {
    int rows;
    int n;
    int stride; // >= n: the rows may be longer than the sums read
};

template <typename Kernel>
void run(Path path, const Shape& s, const float* w, const float* x, float* out) {
    switch (path) {
    case Path::Sse:
        nn::DenseRows::addSums<Kernel>(w, size_t(s.stride), x, s.n, s.rows, out);
        break;
    case Path::Avx:
        nn::DenseRows::addSumsVector2Avx(w, size_t(s.stride), x, s.n, s.rows, out);
        break;
    case Path::Fastest:
        nn::DenseRows::addSumsFastest<Kernel>(w, size_t(s.stride), x, s.n, s.rows, out);
        break;
    }
}

// Row counts through the interleaved groups of 8, the rests of four and of
// one, and the fetching ahead from 16 rows on; lengths with and without a
// half step of 8 after the steps of 16; rows longer than the sums read.
std::vector<Shape> shapesOf(Kind kind) {
    std::vector<int> lengths;
    if (kind == Kind::Vector2) lengths = {8, 24, 40, 1024};
    if (kind == Kind::Vector) lengths = {4, 12, 36};
    if (kind == Kind::Scalar) lengths = {1, 3, 100};
    std::vector<Shape> shapes;
    for (int rows : {0, 1, 3, 4, 7, 8, 9, 15, 16, 17, 24, 37})
        for (int n : lengths)
            for (int extra : {0, 12}) shapes.push_back({rows, n, n + extra});
    return shapes;
}

class DenseRowsTest : public testing::TestWithParam<RowsCase> {};

// Every row's result against the plain statement of its family's summation
// order, the bias added after the sum; the values past the rows stay as they
// were (no row lost or invented).
TEST_P(DenseRowsTest, EachRowHasTheBitsOfItsFamilysOrder) {
    const RowsCase c = GetParam();
    if (c.path == Path::Avx && !nn::DenseRows::hasAvx()) GTEST_SKIP() << "no AVX here";
    for (const Shape& s : shapesOf(c.kind)) {
        SCOPED_TRACE(testing::Message() << s.rows << " rows, n " << s.n << ", stride " << s.stride);
        const std::vector<float> w = layerref::spread(size_t(s.rows) * s.stride + 1, 21);
        const std::vector<float> x = layerref::spread(size_t(s.n), 22);
        const std::vector<float> bias = layerref::spread(size_t(s.rows) + 3, 23);
        std::vector<float> out = bias;
        switch (c.kind) {
        case Kind::Scalar:
            run<nn::ScalarMultiplyAdd>(c.path, s, w.data(), x.data(), out.data());
            break;
        case Kind::Vector:
            run<nn::VectorMultiplyAdd>(c.path, s, w.data(), x.data(), out.data());
            break;
        case Kind::Vector2:
            run<nn::Vector2MultiplyAdd>(c.path, s, w.data(), x.data(), out.data());
            break;
        }
        for (int r = 0; r < s.rows; ++r) {
            const float want =
                layerref::sum(c.kind, &w[size_t(r) * s.stride], x.data(), s.n) + bias[r];
            ASSERT_TRUE(nntest::sameBits(out[r], want)) << "row " << r;
        }
        for (size_t r = size_t(s.rows); r < out.size(); ++r)
            ASSERT_TRUE(nntest::sameBits(out[r], bias[r])) << "past the rows: " << r;
    }
}

const RowsCase kPaths[] = {{Kind::Scalar, Path::Sse},     {Kind::Scalar, Path::Fastest},
                           {Kind::Vector, Path::Sse},     {Kind::Vector, Path::Fastest},
                           {Kind::Vector2, Path::Sse},    {Kind::Vector2, Path::Avx},
                           {Kind::Vector2, Path::Fastest}};

std::string nameOf(const testing::TestParamInfo<RowsCase>& p) {
    const char* const kinds[] = {"Scalar", "Vector", "Vector2"};
    const char* const paths[] = {"Sse", "Avx", "Fastest"};
    return std::string(kinds[int(p.param.kind)]) + "_" + paths[int(p.param.path)];
}

INSTANTIATE_TEST_SUITE_P(Paths, DenseRowsTest, testing::ValuesIn(kPaths), nameOf);

} // namespace
