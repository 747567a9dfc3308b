#pragma once
// nn::Conv2DLayer (layer ID 3): a valid (unpadded, stride 1) convolution
// over rows and columns, then the activation in place.
//   weights: (filters, kernelRows, kernelColumns, channels), biases: (filters),
//   in: (rows, columns, channels)
//   -> out: (rows - kernelRows + 1, columns - kernelColumns + 1, filters)
// out[i][j][f] starts at biases[f]; each kernel row r in order adds
// S(the kernelColumns * channels floats from in[i + r][j][0], weights[f][r]).
// S is the sum of products of the kernel that the engine's rule picks for
// L = kernelColumns * channels (one kernel row).
#include "nn/nn_weighted_layer.h"

#include <iosfwd>
#include <memory>

namespace nn {

class Conv2DLayer final : public WeightedLayer {
public:
    using WeightedLayer::WeightedLayer;

    // Payload: weights record (4 dims), biases record (1 dim), activation
    // record. Null after the loader's report; biases shorter than the
    // filters are rejected. [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

    // Reports and returns false, out untouched, unless in is (rows, columns,
    // channels) with at least the kernel's rows and columns.
    // [prediction thread] no allocation once out has held the output's size
    bool apply(LayerData& data) const override;

private:
    template <typename Kernel>
    void multiplyAddImpl(const Tensor& weights, const Tensor& biases, LayerData& data) const;
};

} // namespace nn
