#include "nn/nn_embedding_layer.h"

#include "nn/nn_parser.h"

#include <algorithm>
#include <istream>

namespace nn {

namespace {
// Offset of the row named by x (x * columns in float32, truncated toward
// zero to a signed 32-bit integer), or -1 when it does not leave a whole row
// inside the table. Offsets in (-1, 0) truncate to row 0.
int64_t rowOffset(float x, uint64_t columns, uint64_t tableSize) {
    const float offset = x * float(columns);
    if (!(offset > -1.0f && offset < 2147483648.0f)) return -1;
    const int64_t first = int64_t(int32_t(offset));
    if (uint64_t(first) + columns > tableSize) return -1;
    return first;
}
} // namespace

bool EmbeddingLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    if (!checkInputRank(in, 1)) return false;
    const uint64_t columns = weights_.dims()[1];
    const size_t n = size_t(in.dims()[0]);
    for (size_t i = 0; i < n; ++i)
        if (rowOffset(in[i], columns, weights_.size()) < 0) {
            NN_ERROR("Embedding index out of range: " << in[i] << " (weights dims: "
                                                      << formatDims(weights_.dims()) << ")");
            return false;
        }
    Tensor& out = data.out;
    out.resize(n, columns);
    for (size_t i = 0; i < n; ++i) {
        const float* row = weights_.data() + rowOffset(in[i], columns, weights_.size());
        std::copy(row, row + columns, out.data() + i * columns);
    }
    return true;
}

std::unique_ptr<Layer> EmbeddingLayer::create(std::istream& stream) {
    std::unique_ptr<Tensor> weights = Tensor::create(2, stream);
    if (!weights) {
        NN_ERROR("Weights tensor parse failed");
        return nullptr;
    }
    return std::make_unique<EmbeddingLayer>(std::move(*weights));
}

} // namespace nn
