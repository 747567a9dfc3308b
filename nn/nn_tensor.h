#pragma once
// nn::Tensor: the engine's n-dimensional array of 32-bit floats, row-major
// (last dimension fastest), in one 16-byte aligned block.
//
// Storage reuse: every shape change (resize, copy-assignment, select) keeps
// the block when the new element count fits its capacity, and the dims list
// keeps its own capacity too; only moves hand blocks over. A tensor that is
// reshaped to sizes it has held before therefore allocates nothing.
//
// Arithmetic operations split their work over the given pool (see
// nn_dispatcher.h) and join before returning; element counts, row lengths and
// part bounds are signed 32-bit, so operands hold fewer than 2^31 elements.
#include "nn/nn_aligned_allocator.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace nn {

class Dispatcher;

class Tensor {
public:
    using Dims = std::vector<uint64_t>;
    using Data = std::vector<float, aligned_allocator<float>>;

    // Largest element count a tensor record may hold (the arithmetic's range).
    static constexpr uint64_t kMaxElements = (uint64_t(1) << 31) - 1;

    Tensor() = default;
    // As resize(i). [control thread] allocates
    explicit Tensor(uint64_t i);
    Tensor(const Tensor&) = default;
    Tensor& operator=(const Tensor&) = default;
    // A move leaves the source with no dimensions and no data.
    Tensor(Tensor&& other) noexcept;
    Tensor& operator=(Tensor&& other) noexcept;

    // Shape operations: [any thread] no allocation within capacity.
    // dims become exactly the given sizes; the data keeps its prefix and
    // added elements are 0.
    void resize(uint64_t i);
    void resize(uint64_t i, uint64_t j);
    void resize(uint64_t i, uint64_t j, uint64_t k);
    void resize(uint64_t i, uint64_t j, uint64_t k, uint64_t l);

    void fill(float value);
    // dims become (element count); no dimensions become (1). Data untouched.
    void flatten();
    // Removes every dimension equal to 1 but the last; fewer than two
    // dimensions are left alone. Data untouched.
    void eraseDummyDims();
    // dims and data become empty; capacity is kept for reuse.
    void clear();
    // Exchanges contents (and blocks) with other; never allocates.
    void swap(Tensor& other) noexcept;

    // out.dims = dims without the first; out.data = row i (L = product of
    // dims[1..] floats from element i * L). Precondition: i < dims[0].
    void select(uint64_t i, Tensor& out) const;
    // As select, then a leading dimension of 1: a row of [steps, n] is [1, n].
    void selectRow(uint64_t i, Tensor& out) const;

    const Dims& dims() const { return dims_; }
    // Element count: the product of dims (1 for none) once sized, the
    // stored float count in any case.
    size_t size() const { return data_.size(); }
    float* data() { return data_.data(); }
    const float* data() const { return data_.data(); }
    float& operator[](size_t i) { return data_[i]; }
    float operator[](size_t i) const { return data_[i]; }

    // The arithmetic: [prediction thread] no allocation once out has its
    // size, no locks but the pool's.
    // out = this + other element-wise over this tensor's element count N.
    // other holds at least N elements. out may not alias other.
    void add(const Tensor& other, Tensor& out, Dispatcher& pool) const;
    // out = this * other element-wise over N.
    void multiply(const Tensor& other, Tensor& out, Dispatcher& pool) const;
    // out = this * scale + offset element-wise over N, the product rounded
    // before the sum.
    void multiplyAdd(const Tensor& scale, const Tensor& offset, Tensor& out,
                     Dispatcher& pool) const;
    // this: (R, K), other: (C, K) one row of K weights per column
    // -> out: (R, C), out[r][c] = sum over k of this[r][k] * other[c][k].
    // Both two-dimensional with equal second dimensions, C >= 1.
    void dot(const Tensor& other, Tensor& out, Dispatcher& pool) const;

    // Reads a tensor record of dimsCount uint32 sizes (each > 0) and the
    // row-major floats. Null after an error report; rejects element counts
    // above kMaxElements and records longer than the stream before it
    // allocates. [loading thread]
    static std::unique_ptr<Tensor> create(uint32_t dimsCount, std::istream& stream);

private:
    void setDims(std::initializer_list<uint64_t> dims);

    Dims dims_;
    Data data_;
};

// "[a, b, c]": dims as the engine's reports print them.
std::string formatDims(const Tensor::Dims& dims);

// Nested brackets, one level per dimension, ", " between neighbours:
// (2, 2) holding 1, 2, 3, 4 prints [[1, 2], [3, 4]].
std::ostream& operator<<(std::ostream& stream, const Tensor& tensor);

} // namespace nn
