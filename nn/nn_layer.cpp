#include "nn/nn_layer.h"

#include "nn/nn_activation_layer.h"
#include "nn/nn_batch_normalization_layer.h"
#include "nn/nn_conv1d_layer.h"
#include "nn/nn_conv2d_layer.h"
#include "nn/nn_dense_layer.h"
#include "nn/nn_elu_layer.h"
#include "nn/nn_embedding_layer.h"
#include "nn/nn_flatten_layer.h"
#include "nn/nn_locally_connected1d_layer.h"
#include "nn/nn_lstm_layer.h"
#include "nn/nn_max_pooling2d_layer.h"
#include "nn/nn_parser.h"

#include <istream>

namespace nn {

namespace {
// Layer IDs of the model file.
enum LayerId : uint32_t {
    kDense = 1,
    kConv1D = 2,
    kConv2D = 3,
    kLocallyConnected1D = 4,
    kFlatten = 6,
    kElu = 7,
    kActivation = 8,
    kMaxPooling2D = 9,
    kLstm = 10,
    kEmbedding = 11,
    kBatchNormalization = 12,
};
} // namespace

std::unique_ptr<Layer> Layer::create(std::istream& stream) {
    uint32_t id = 0;
    if (!Parser::read(stream, id)) {
        NN_ERROR("Layer ID parse failed");
        return nullptr;
    }
    switch (id) {
    case kDense:
        return DenseLayer::create(stream);
    case kConv1D:
        return Conv1DLayer::create(stream);
    case kConv2D:
        return Conv2DLayer::create(stream);
    case kLocallyConnected1D:
        return LocallyConnected1DLayer::create(stream);
    case kFlatten:
        return std::make_unique<FlattenLayer>();
    case kElu:
        return EluLayer::create(stream);
    case kActivation:
        return ActivationLayer::create(stream);
    case kMaxPooling2D:
        return MaxPooling2DLayer::create(stream);
    case kLstm:
        return LstmLayer::create(stream);
    case kEmbedding:
        return EmbeddingLayer::create(stream);
    case kBatchNormalization:
        return BatchNormalizationLayer::create(stream);
    default:
        NN_ERROR("Unknown layer ID: " << id);
        return nullptr;
    }
}

bool Layer::checkInputRank(const Tensor& in, size_t rank) {
    if (in.dims().size() == rank) return true;
    NN_ERROR("Input tensor dims count must be " << rank << " (input dims: " << formatDims(in.dims())
                                                << ")");
    return false;
}

} // namespace nn
