#pragma once
// nn::FlattenLayer (layer ID 6): the input with dims (element count). No payload.
#include "nn/nn_layer.h"

namespace nn {

class FlattenLayer final : public Layer {
public:
    // Never fails. [prediction thread] no allocation
    bool apply(LayerData& data) const override;
};

} // namespace nn
