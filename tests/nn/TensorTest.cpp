#include "nn/nn_tensor.h"

#include "nn/nn_dispatcher.h"
#include "tests/nn/NnTestSupport.h"
#include "tests/support/AllocCounter.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <vector>

namespace {

using Dims = nn::Tensor::Dims;
using nntest::Messages;
using nntest::ModelBytes;
using nntest::reportsOf;
using nntest::sameBits;
using nntest::valuesOf;

nn::Tensor makeTensor(const Dims& dims, const std::vector<float>& values) {
    return nntest::tensorOf(dims, values);
}

std::vector<float> spread(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> m(-1.0f, 1.0f);
    std::uniform_int_distribution<int> e(-10, 10);
    std::vector<float> v(n);
    for (float& x : v) x = std::ldexp(m(rng), e(rng));
    return v;
}

TEST(TensorTest, EraseDummyDimsKeepsTheLastDimension) {
    const struct {
        Dims in, out;
    } cases[] = {{{1, 1, 5}, {5}},    {{5, 1}, {5, 1}}, {{1, 5, 1}, {5, 1}}, {{1, 1}, {1}},
                 {{5, 1, 1}, {5, 1}}, {{7}, {7}},       {{1}, {1}},          {{2, 1, 3}, {2, 3}}};
    for (const auto& c : cases) {
        nn::Tensor t = makeTensor(c.in, {});
        t[0] = 3.0f;
        t.eraseDummyDims();
        EXPECT_EQ(t.dims(), c.out) << nn::formatDims(c.in);
        EXPECT_EQ(t[0], 3.0f);
    }
}

TEST(TensorTest, FlattenGivesOneDimensionOfTheElementCount) {
    nn::Tensor t = makeTensor({2, 3, 4}, {1, 2, 3});
    t.flatten();
    EXPECT_EQ(t.dims(), Dims{24});
    EXPECT_EQ(t.size(), 24u);
    EXPECT_EQ(t[2], 3.0f);
    nn::Tensor none;
    none.flatten();
    EXPECT_EQ(none.dims(), Dims{1});
}

TEST(TensorTest, ResizeKeepsThePrefixAndZeroesNewElements) {
    nn::Tensor t(2);
    t[0] = 1;
    t[1] = 2;
    t.resize(2, 2);
    EXPECT_EQ(t.dims(), (Dims{2, 2}));
    EXPECT_EQ(valuesOf(t), (std::vector<float>{1, 2, 0, 0}));
    t.resize(1, 1, 1, 3);
    EXPECT_EQ(t.dims(), (Dims{1, 1, 1, 3}));
    EXPECT_EQ(valuesOf(t), (std::vector<float>{1, 2, 0}));
}

TEST(TensorTest, SelectAndSelectRowCopyOneRow) {
    nn::Tensor t = makeTensor({3, 2}, {0, 1, 2, 3, 4, 5});
    nn::Tensor row;
    t.selectRow(1, row);
    EXPECT_EQ(row.dims(), (Dims{1, 2}));
    EXPECT_EQ(valuesOf(row), (std::vector<float>{2, 3}));
    t.select(2, row);
    EXPECT_EQ(row.dims(), Dims{2});
    EXPECT_EQ(valuesOf(row), (std::vector<float>{4, 5}));
    nn::Tensor cube = makeTensor({2, 2, 2}, {0, 1, 2, 3, 4, 5, 6, 7});
    cube.select(1, row);
    EXPECT_EQ(row.dims(), (Dims{2, 2}));
    EXPECT_EQ(valuesOf(row), (std::vector<float>{4, 5, 6, 7}));
}

TEST(TensorTest, MoveLeavesTheSourceEmpty) {
    nn::Tensor a = makeTensor({2, 2}, {1, 2, 3, 4});
    nn::Tensor b(std::move(a));
    EXPECT_TRUE(a.dims().empty());
    EXPECT_EQ(a.size(), 0u);
    nn::Tensor c;
    c = std::move(b);
    EXPECT_TRUE(b.dims().empty());
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(valuesOf(c), (std::vector<float>{1, 2, 3, 4}));
}

TEST(TensorTest, DataIsSixteenByteAligned) {
    for (uint64_t n : {1u, 3u, 4u, 5u, 17u, 1000u}) {
        nn::Tensor t(n);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(t.data()) % 16, 0u) << n;
        nn::Tensor copy = t;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(copy.data()) % 16, 0u) << n;
    }
}

TEST(TensorTest, AlignedAllocatorRejectsOverflowingCounts) {
    nn::aligned_allocator<float> allocator;
    EXPECT_EQ(allocator.allocate(0), nullptr);
    try {
        allocator.allocate(size_t(1) << 62);
        FAIL() << "no exception";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "aligned_allocator<T,A>::allocate() - Integer overflow.");
    }
}

TEST(TensorTest, ReshapingWithinCapacityKeepsTheBlock) {
    nn::Tensor t;
    t.resize(64, 16);
    const float* block = t.data();
    nn::Tensor source = makeTensor({100}, spread(100, 1));
    nn::Tensor other;
    other.resize(4, 4);
    testsupport::AllocCounter counter;
    t.resize(10);
    t.resize(32, 32);
    t.clear();
    t.resize(2, 3, 4);
    t = source; // copy into existing capacity
    source.selectRow(0, other);
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_EQ(t.data(), block);
    EXPECT_EQ(valuesOf(t), valuesOf(source));
}

TEST(TensorTest, PrintsNestedBrackets) {
    std::ostringstream text;
    text << makeTensor({2, 2}, {1, 2, 3, 4});
    EXPECT_EQ(text.str(), "[[1, 2], [3, 4]]");
    EXPECT_EQ(nn::formatDims({10, 4}), "[10, 4]");
    EXPECT_EQ(nn::formatDims({}), "[]");
}

TEST(TensorTest, DotOfSmallMatrices) {
    nn::Dispatcher pool(1);
    const nn::Tensor a = makeTensor({2, 2}, {1, 2, 3, 4});
    const nn::Tensor b = makeTensor({3, 2}, {1, 0, 0, 1, 1, 1});
    nn::Tensor out;
    a.dot(b, out, pool);
    EXPECT_EQ(out.dims(), (Dims{2, 3}));
    EXPECT_EQ(valuesOf(out), (std::vector<float>{1, 2, 3, 3, 4, 7}));
}

// Independent statement of the kernel choice and the three summation orders.
int referenceKind(int length, int threads) {
    const int q = length / threads;
    if (q != 0 && q % 8 == 0 && length % 8 == 0) return 2;
    if (q != 0 && q % 4 == 0 && length % 4 == 0) return 1;
    return 0;
}

float referenceSum(int kind, const float* a, const float* b, int n) {
    if (kind == 0) {
        float s = 0;
        for (int k = 0; k < n; ++k) s = s + a[k] * b[k];
        return s;
    }
    float lanes[8] = {};
    for (int k = 0; k < n; ++k) {
        const int lane = kind == 2 ? k % 8 : k % 4;
        lanes[lane] = lanes[lane] + a[k] * b[k];
    }
    const float lo = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    const float hi = (lanes[4] + lanes[5]) + (lanes[6] + lanes[7]);
    return kind == 2 ? lo + hi : lo;
}

struct ArithmeticCase {
    int length; // N for element-wise operations, K for dot
    unsigned threads;
};

class TensorArithmeticTest : public testing::TestWithParam<ArithmeticCase> {};

TEST_P(TensorArithmeticTest, DotFollowsTheChosenKernelsOrder) {
    const ArithmeticCase c = GetParam();
    nn::Dispatcher pool(c.threads);
    const int rows = 5, columns = 7, k = c.length;
    const nn::Tensor a = makeTensor({uint64_t(rows), uint64_t(k)}, spread(size_t(rows * k), 2));
    const nn::Tensor b =
        makeTensor({uint64_t(columns), uint64_t(k)}, spread(size_t(columns * k), 3));
    nn::Tensor out;
    a.dot(b, out, pool);
    ASSERT_EQ(out.dims(), (Dims{uint64_t(rows), uint64_t(columns)}));
    const int kind = referenceKind(k, pool.threadsCount());
    for (int r = 0; r < rows; ++r)
        for (int col = 0; col < columns; ++col)
            ASSERT_TRUE(sameBits(out[size_t(r * columns + col)],
                                 referenceSum(kind, a.data() + r * k, b.data() + col * k, k)))
                << "row " << r << " column " << col;
}

TEST_P(TensorArithmeticTest, ElementwiseOperationsMatchThePlainLoop) {
    const ArithmeticCase c = GetParam();
    nn::Dispatcher pool(c.threads);
    const size_t n = size_t(c.length);
    const nn::Tensor x = makeTensor({uint64_t(n)}, spread(n, 4));
    const nn::Tensor y = makeTensor({uint64_t(n)}, spread(n, 5));
    const nn::Tensor z = makeTensor({uint64_t(n)}, spread(n, 6));
    nn::Tensor sum, product, affine;
    x.add(y, sum, pool);
    x.multiply(y, product, pool);
    x.multiplyAdd(y, z, affine, pool);
    ASSERT_EQ(sum.dims(), x.dims());
    ASSERT_EQ(affine.dims(), z.dims());
    for (size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(sameBits(sum[i], y[i] + x[i])) << i;
        ASSERT_TRUE(sameBits(product[i], x[i] * y[i])) << i;
        const float p = x[i] * y[i];
        ASSERT_TRUE(sameBits(affine[i], p + z[i])) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(LengthsAndThreads, TensorArithmeticTest,
                         testing::Values(ArithmeticCase{100, 16}, ArithmeticCase{128, 16},
                                         ArithmeticCase{64, 16}, ArithmeticCase{136, 16},
                                         ArithmeticCase{132, 16}, ArithmeticCase{130, 16},
                                         ArithmeticCase{1024, 1}, ArithmeticCase{1020, 1},
                                         ArithmeticCase{1001, 1}, ArithmeticCase{512, 3},
                                         ArithmeticCase{3, 8}));

// A stream buffer that cannot seek, as a pipe: one byte per underflow.
class OneWayBuffer : public std::streambuf {
public:
    explicit OneWayBuffer(std::string bytes) : bytes_(std::move(bytes)) {}

protected:
    int_type underflow() override {
        if (next_ >= bytes_.size()) return traits_type::eof();
        current_ = bytes_[next_++];
        setg(&current_, &current_, &current_ + 1);
        return traits_type::to_int_type(current_);
    }

private:
    std::string bytes_;
    size_t next_ = 0;
    char current_ = 0;
};

struct RecordCase {
    const char* name;
    uint32_t dimsCount;
    std::string bytes;
    Messages messages; // empty: the record loads
};

ModelBytes dims23(size_t dataBytes) {
    ModelBytes b;
    b.u32(2).u32(3);
    return b.raw(std::string(dataBytes, '\0'));
}

TEST(TensorRecordTest, ReadsOrReportsEachRecord) {
    const RecordCase cases[] = {
        {"complete", 2, dims23(24).str(), {}},
        {"data cut short", 2, dims23(20).str(), {"Parse failed: 20 - 24", "Data parse failed"}},
        {"no dimension count", 0, dims23(24).str(), {"Invalid dims value: 0"}},
        {"dimension cut short",
         2,
         std::string("\2\0\0\0\3\0", 6),
         {"Parse failed: 2 - 4", "Stride parse failed"}},
        {"zero dimension", 3, ModelBytes().u32(2).u32(0).u32(3).str(), {"Invalid stride value: 0"}},
        {"count past the arithmetic's range",
         2,
         ModelBytes().u32(65536).u32(32768).str(),
         {"Tensor too large (dims: [65536, 32768])"}},
        {"huge count in a short stream",
         1,
         ModelBytes().u32(1u << 30).f32(1).str(),
         {"Parse failed: 4 - 4294967296", "Data parse failed"}},
    };
    for (const RecordCase& c : cases)
        for (bool seekable : {true, false}) {
            std::istringstream seekableStream(c.bytes);
            OneWayBuffer oneWay(c.bytes);
            std::istream oneWayStream(&oneWay);
            std::istream& stream = seekable ? seekableStream : oneWayStream;
            std::unique_ptr<nn::Tensor> t;
            const Messages messages =
                reportsOf([&] { t = nn::Tensor::create(c.dimsCount, stream); });
            EXPECT_EQ(messages, c.messages) << c.name << (seekable ? "" : ", not seekable");
            EXPECT_EQ(t == nullptr, !c.messages.empty()) << c.name;
            if (t) {
                EXPECT_EQ(t->size(), 6u);
            }
        }
}

TEST(TensorRecordTest, ShortDataIsReportedByTheReaderThenTheRecord) {
    const std::string bytes = dims23(20).str();
    for (bool seekable : {true, false}) {
        std::istringstream seekableStream(bytes);
        OneWayBuffer oneWay(bytes);
        std::istream oneWayStream(&oneWay);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(nn::Tensor::create(2, seekable ? seekableStream : oneWayStream));
        std::istringstream lines(testing::internal::GetCapturedStderr());
        std::string reader, record;
        std::getline(lines, reader);
        std::getline(lines, record);
        EXPECT_EQ(reader.rfind("[nn_parser.cpp::", 0), 0u) << reader;
        EXPECT_EQ(record.rfind("[nn_tensor.cpp::", 0), 0u) << record;
    }
}

TEST(TensorRecordTest, ValuesAreLittleEndianRowMajor) {
    std::istringstream stream(ModelBytes().tensor({2, 2}, {1.5f, -2, 3, 1e-3f}).str());
    std::unique_ptr<nn::Tensor> t = nn::Tensor::create(2, stream);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->dims(), (Dims{2, 2}));
    EXPECT_EQ(valuesOf(*t), (std::vector<float>{1.5f, -2, 3, 1e-3f}));
}

} // namespace
