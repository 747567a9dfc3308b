#pragma once
// nn::BatchNormalizationLayer (layer ID 12): out[i] = in[i] * weights[i] +
// biases[i], split over the pool. Payload: weights and biases tensor records,
// 1 dim each, equal dims.
#include "nn/nn_layer.h"
#include "nn/nn_tensor.h"

#include <iosfwd>
#include <memory>

namespace nn {

class BatchNormalizationLayer final : public Layer {
public:
    BatchNormalizationLayer(Tensor weights, Tensor biases)
        : weights_(std::move(weights)), biases_(std::move(biases)) {}
    // False when the input's dims differ from the weights'.
    // [prediction thread] no allocation once out has its size
    bool apply(LayerData& data) const override;
    // Null after "Weights/Biases tensor parse failed" or "Invalid biases tensor
    // dims". [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

private:
    Tensor weights_;
    Tensor biases_;
};

} // namespace nn
