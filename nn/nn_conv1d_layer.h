#pragma once
// nn::Conv1DLayer (layer ID 2): a valid (unpadded, stride 1) convolution
// over steps, then the activation in place.
//   weights: (filters, kernel, channels), biases: (filters), in: (steps, channels)
//   -> out: (steps - kernel + 1, filters)
//   out[i][f] = biases[f] + S(the kernel * channels floats from in[i][0], weights row f)
// S is the sum of products of the kernel that the engine's rule picks for
// L = kernel * channels; windows start at i * channels, so loads are unaligned.
#include "nn/nn_weighted_layer.h"

#include <iosfwd>
#include <memory>

namespace nn {

class Conv1DLayer final : public WeightedLayer {
public:
    using WeightedLayer::WeightedLayer;

    // Payload: weights record (3 dims), biases record (1 dim), activation
    // record. Null after the loader's report; biases shorter than the
    // filters are rejected. [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

    // Reports and returns false, out untouched, unless in is (steps,
    // channels) with steps >= kernel. [prediction thread] no allocation once
    // out has held the output's size
    bool apply(LayerData& data) const override;

private:
    template <typename Kernel>
    void multiplyAddImpl(const Tensor& weights, const Tensor& biases, LayerData& data) const;
};

} // namespace nn
