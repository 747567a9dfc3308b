#pragma once
// nn::EmbeddingLayer (layer ID 11): input (n) of row indices stored as floats
// -> (n, columns), row i the weights row named by input i.
// Payload: weights tensor record, 2 dims (rows, columns).
#include "nn/nn_layer.h"
#include "nn/nn_tensor.h"

#include <cassert>
#include <iosfwd>
#include <memory>

namespace nn {

class EmbeddingLayer final : public Layer {
public:
    // weights: (rows, columns).
    explicit EmbeddingLayer(Tensor weights) : weights_(std::move(weights)) {
        assert(weights_.dims().size() == 2);
    }
    // False for an input without 1 dimension or an index outside the table.
    // [prediction thread] no allocation once out has its size
    bool apply(LayerData& data) const override;
    // Null after "Weights tensor parse failed". [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

private:
    Tensor weights_;
};

} // namespace nn
