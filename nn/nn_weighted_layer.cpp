#include "nn/nn_weighted_layer.h"

#include "nn/nn_parser.h"

#include <cassert>
#include <utility>

namespace nn {

WeightedLayer::WeightedLayer(Parts&& parts)
    : weights_(std::move(parts.weights)), biases_(std::move(parts.biases)),
      activation_(std::move(parts.activation)) {
    assert(activation_);
}

bool WeightedLayer::load(std::istream& stream, uint32_t weightsRank, uint32_t biasesRank,
                         Parts& parts) {
    std::unique_ptr<Tensor> weights = Tensor::create(weightsRank, stream);
    if (!weights) {
        NN_ERROR("Weights tensor parse failed");
        return false;
    }
    std::unique_ptr<Tensor> biases = Tensor::create(biasesRank, stream);
    if (!biases) {
        NN_ERROR("Biases tensor parse failed");
        return false;
    }
    parts.activation = ActivationLayer::create(stream);
    if (!parts.activation) {
        NN_ERROR("Activation layer parse failed");
        return false;
    }
    // The layers read one bias per output they compute.
    uint64_t needed = 1;
    for (uint32_t d = 0; d < biasesRank; ++d) needed *= weights->dims()[d];
    if (biases->size() < needed) {
        NN_ERROR("Invalid biases tensor dims"
                 << " (biases dims: " << formatDims(biases->dims()) << ")"
                 << " (weights dims: " << formatDims(weights->dims()) << ")");
        return false;
    }
    parts.weights = std::move(*weights);
    parts.biases = std::move(*biases);
    return true;
}

bool WeightedLayer::reportInputMismatch(const char* message, const Tensor& in) const {
    NN_ERROR(message << " (input dims: " << formatDims(in.dims()) << ")"
                     << " (weights dims: " << formatDims(weights_.dims()) << ")");
    return false;
}

bool WeightedLayer::checkOutputSize(uint64_t count, const Tensor& in) const {
    return count <= Tensor::kMaxElements || reportInputMismatch("Output tensor too large", in);
}

} // namespace nn
