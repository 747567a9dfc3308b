#include "nn/nn_tensor.h"

#include "nn/nn_dispatcher.h"
#include "nn/nn_kernels.h"
#include "nn/nn_parser.h"

#include <algorithm>
#include <cassert>
#include <istream>
#include <ostream>

namespace nn {

Tensor::Tensor(uint64_t i) {
    resize(i);
}

Tensor::Tensor(Tensor&& other) noexcept
    : dims_(std::move(other.dims_)), data_(std::move(other.data_)) {
    other.dims_.clear();
    other.data_.clear();
}

Tensor& Tensor::operator=(Tensor&& other) noexcept {
    if (this != &other) {
        dims_ = std::move(other.dims_);
        data_ = std::move(other.data_);
        other.dims_.clear();
        other.data_.clear();
    }
    return *this;
}

namespace {
// Every rank the engine uses fits, so a tensor's dims list allocates once.
constexpr size_t kDimsReserve = 4;
} // namespace

void Tensor::setDims(std::initializer_list<uint64_t> dims) {
    if (dims_.capacity() < kDimsReserve) dims_.reserve(kDimsReserve);
    dims_.assign(dims);
    uint64_t count = 1;
    for (uint64_t d : dims_) count *= d;
    data_.resize(size_t(count));
}

void Tensor::resize(uint64_t i) {
    setDims({i});
}
void Tensor::resize(uint64_t i, uint64_t j) {
    setDims({i, j});
}
void Tensor::resize(uint64_t i, uint64_t j, uint64_t k) {
    setDims({i, j, k});
}
void Tensor::resize(uint64_t i, uint64_t j, uint64_t k, uint64_t l) {
    setDims({i, j, k, l});
}

void Tensor::fill(float value) {
    std::fill(data_.begin(), data_.end(), value);
}

void Tensor::flatten() {
    uint64_t count = 1;
    for (uint64_t d : dims_) count *= d;
    dims_.assign({count});
}

void Tensor::eraseDummyDims() {
    if (dims_.size() < 2) return;
    const uint64_t last = dims_.back();
    dims_.pop_back();
    dims_.erase(std::remove(dims_.begin(), dims_.end(), uint64_t(1)), dims_.end());
    dims_.push_back(last);
}

void Tensor::clear() {
    dims_.clear();
    data_.clear();
}

void Tensor::swap(Tensor& other) noexcept {
    dims_.swap(other.dims_);
    data_.swap(other.data_);
}

void Tensor::select(uint64_t i, Tensor& out) const {
    assert(!dims_.empty() && i < dims_[0]);
    if (out.dims_.capacity() < kDimsReserve) out.dims_.reserve(kDimsReserve);
    out.dims_.assign(dims_.begin() + 1, dims_.end());
    uint64_t row = 1;
    for (uint64_t d : out.dims_) row *= d;
    const float* first = data_.data() + i * row;
    out.data_.assign(first, first + row);
}

void Tensor::selectRow(uint64_t i, Tensor& out) const {
    select(i, out);
    out.dims_.insert(out.dims_.begin(), uint64_t(1));
}

namespace {

// Runs Kernel::run(operand, out) over the parts of [0, n).
template <typename Kernel>
void elementwiseImpl(const float* operand, float* out, int n, Dispatcher& pool) {
    pool.run(n, [operand, out](int start, int end) {
        Kernel::run(operand + start, out + start, end - start);
    });
}

template <typename Kernel> void addImpl(const float* other, float* out, int n, Dispatcher& pool) {
    elementwiseImpl<Kernel>(other, out, n, pool);
}

template <typename Kernel>
void multiplyImpl(const float* other, float* out, int n, Dispatcher& pool) {
    elementwiseImpl<Kernel>(other, out, n, pool);
}

template <typename Kernel>
void multiplyAddImpl(const float* a, const float* scale, float* out, int n, Dispatcher& pool) {
    pool.run(n, [a, scale, out](int start, int end) {
        Kernel::run(a + start, scale + start, out + start, end - start);
    });
}

// Rows of a (rows, k) by columns of b (columns, k) into out (rows, columns).
template <typename Kernel>
void dotImpl(const float* a, const float* b, float* out, int rows, int columns, int k,
             Dispatcher& pool) {
    pool.run(rows, [a, b, out, columns, k](int start, int end) {
        for (int r = start; r < end; ++r) {
            const float* row = a + size_t(r) * size_t(k);
            float* dst = out + size_t(r) * size_t(columns);
            for (int c = 0; c < columns; ++c)
                dst[c] = Kernel::sum(row, b + size_t(c) * size_t(k), k);
        }
    });
}

} // namespace

void Tensor::add(const Tensor& other, Tensor& out, Dispatcher& pool) const {
    const int n = int(size());
    assert(&out != &other && other.size() >= size());
    out = *this;
    withKernel<ScalarAdd, VectorAdd, Vector2Add>(n, pool.threadsCount(), [&](auto kernel) {
        addImpl<decltype(kernel)>(other.data(), out.data(), n, pool);
    });
}

void Tensor::multiply(const Tensor& other, Tensor& out, Dispatcher& pool) const {
    const int n = int(size());
    assert(&out != &other && other.size() >= size());
    out = *this;
    withKernel<ScalarMultiply, VectorMultiply, Vector2Multiply>(
        n, pool.threadsCount(),
        [&](auto kernel) { multiplyImpl<decltype(kernel)>(other.data(), out.data(), n, pool); });
}

void Tensor::multiplyAdd(const Tensor& scale, const Tensor& offset, Tensor& out,
                         Dispatcher& pool) const {
    const int n = int(size());
    assert(&out != this && &out != &scale && scale.size() >= size() && offset.size() >= size());
    out = offset;
    withKernel<ScalarMultiplyAdd, VectorMultiplyAdd, Vector2MultiplyAdd>(
        n, pool.threadsCount(), [&](auto kernel) {
            multiplyAddImpl<decltype(kernel)>(data(), scale.data(), out.data(), n, pool);
        });
}

void Tensor::dot(const Tensor& other, Tensor& out, Dispatcher& pool) const {
    assert(dims_.size() == 2 && other.dims_.size() == 2 && dims_[1] == other.dims_[1]);
    assert(&out != this && &out != &other);
    out.resize(dims_[0], other.dims_[0]);
    const int k = int(dims_[1]);
    const int columns = int(out.dims_[1]);
    const int rows = columns ? int(out.size()) / columns : 0;
    withKernel<ScalarMultiplyAdd, VectorMultiplyAdd, Vector2MultiplyAdd>(
        k, pool.threadsCount(), [&](auto kernel) {
            dotImpl<decltype(kernel)>(data(), other.data(), out.data(), rows, columns, k, pool);
        });
}

std::unique_ptr<Tensor> Tensor::create(uint32_t dimsCount, std::istream& stream) {
    if (dimsCount == 0) {
        NN_ERROR("Invalid dims value: " << dimsCount);
        return nullptr;
    }
    Dims dims(dimsCount);
    uint64_t count = 1;
    bool tooLarge = false;
    for (uint32_t d = 0; d < dimsCount; ++d) {
        uint32_t value = 0;
        if (!Parser::read(stream, value)) {
            NN_ERROR("Stride parse failed");
            return nullptr;
        }
        if (value == 0) {
            NN_ERROR("Invalid stride value: " << value);
            return nullptr;
        }
        dims[d] = value;
        // Saturates instead of overflowing: the count only has to be compared.
        if (!tooLarge && count * value > kMaxElements) tooLarge = true;
        if (!tooLarge) count *= value;
    }
    if (tooLarge) {
        NN_ERROR("Tensor too large (dims: " << formatDims(dims) << ")");
        return nullptr;
    }
    // The reader sizes the block only as far as the stream can fill it, so
    // a corrupt size does not allocate gigabytes.
    auto tensor = std::make_unique<Tensor>();
    tensor->dims_ = std::move(dims);
    if (!Parser::readArray(stream, tensor->data_, size_t(count))) {
        NN_ERROR("Data parse failed");
        return nullptr;
    }
    return tensor;
}

std::string formatDims(const Tensor::Dims& dims) {
    std::string text = "[";
    for (size_t i = 0; i < dims.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(dims[i]);
    }
    text += ']';
    return text;
}

namespace {
void printLevel(std::ostream& stream, const Tensor& t, size_t level, size_t& next) {
    stream << '[';
    const uint64_t count = t.dims()[level];
    for (uint64_t i = 0; i < count; ++i) {
        if (i) stream << ", ";
        if (level + 1 == t.dims().size())
            stream << t[next++];
        else
            printLevel(stream, t, level + 1, next);
    }
    stream << ']';
}
} // namespace

std::ostream& operator<<(std::ostream& stream, const Tensor& tensor) {
    if (tensor.dims().empty()) {
        if (tensor.size()) stream << tensor[0];
        return stream;
    }
    size_t next = 0;
    printLevel(stream, tensor, 0, next);
    return stream;
}

} // namespace nn
