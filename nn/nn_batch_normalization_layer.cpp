#include "nn/nn_batch_normalization_layer.h"

#include "nn/nn_parser.h"

#include <istream>

namespace nn {

bool BatchNormalizationLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    if (in.dims() != weights_.dims()) {
        NN_ERROR("Input and weights tensor dims are different (input dims: "
                 << formatDims(in.dims()) << ") (weights dims: " << formatDims(weights_.dims())
                 << ")");
        return false;
    }
    in.multiplyAdd(weights_, biases_, data.out, data.dispatcher);
    return true;
}

std::unique_ptr<Layer> BatchNormalizationLayer::create(std::istream& stream) {
    std::unique_ptr<Tensor> weights = Tensor::create(1, stream);
    if (!weights) {
        NN_ERROR("Weights tensor parse failed");
        return nullptr;
    }
    std::unique_ptr<Tensor> biases = Tensor::create(1, stream);
    if (!biases) {
        NN_ERROR("Biases tensor parse failed");
        return nullptr;
    }
    if (weights->dims() != biases->dims()) {
        NN_ERROR("Invalid biases tensor dims");
        return nullptr;
    }
    return std::make_unique<BatchNormalizationLayer>(std::move(*weights), std::move(*biases));
}

} // namespace nn
