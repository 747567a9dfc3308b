#pragma once
// nn::DenseLayer (layer ID 1): out[u] = S(weights row u, in) + biases[u],
// then the activation in place.
//   weights: (units, inputs) row-major, biases: (units), in: (inputs) -> out: biases' dims
// S is the sum of products of the kernel that the engine's rule picks for
// L = inputs on the prediction's pool; the bias is added after the sum.
#include "nn/nn_weighted_layer.h"

#include <iosfwd>
#include <memory>

namespace nn {

class DenseLayer final : public WeightedLayer {
public:
    using WeightedLayer::WeightedLayer;

    // Payload: weights record (2 dims), biases record (1 dim), activation
    // record. Null after the loader's report; biases shorter than the units
    // are rejected. [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

    // Reports and returns false, out untouched, unless in is (inputs).
    // [prediction thread] no allocation once out has held the biases' size
    bool apply(LayerData& data) const override;

private:
    template <typename Kernel> void multiplyAddImpl(const Tensor& weights, LayerData& data) const;
};

} // namespace nn
