#pragma once
// Caller-held storage that makes repeated Model::predict calls of the same
// shapes allocation-free from the second call on: the chain's two working
// tensors and every layer's state (nn_layer.h) are kept here between
// predictions instead of being built and released by each one. Each working
// block plays the same roles in every prediction, so the first prediction
// sizes everything. One scratch per model and caller thread.
#include "nn/nn_layer.h"
#include "nn/nn_tensor.h"

#include <memory>
#include <vector>

namespace nn {

class Model;

class PredictScratch {
public:
    PredictScratch() = default;
    PredictScratch(const PredictScratch&) = delete;
    PredictScratch& operator=(const PredictScratch&) = delete;

private:
    friend class Model;
    Tensor in_;                                       // the current layer's input
    Tensor out_;                                      // what the current layer writes
    std::vector<std::unique_ptr<LayerState>> states_; // one slot per layer
};

} // namespace nn
