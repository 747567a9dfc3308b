#include "nn/nn_flatten_layer.h"

namespace nn {

bool FlattenLayer::apply(LayerData& data) const {
    data.passThrough();
    data.out.flatten();
    return true;
}

} // namespace nn
