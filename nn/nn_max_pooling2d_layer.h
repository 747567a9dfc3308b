#pragma once
// nn::MaxPooling2DLayer (layer ID 9): input (rows, columns, channels) ->
// (rows / poolY, columns / poolX, channels), each output the running maximum
// of its pool (rows and columns that fill no whole pool are ignored).
// Payload: poolY, poolX as uint32, each 1 .. 2^31-1.
#include "nn/nn_layer.h"

#include <cassert>
#include <iosfwd>
#include <memory>

namespace nn {

class MaxPooling2DLayer final : public Layer {
public:
    // Pool rows and columns, each at least 1.
    MaxPooling2DLayer(int poolY, int poolX) : poolY_(poolY), poolX_(poolX) {
        assert(poolY >= 1 && poolX >= 1);
    }
    // False for an input without 3 dimensions. [prediction thread]
    // no allocation once out has its size
    bool apply(LayerData& data) const override;
    // Null after "Pool size Y/X parse failed" or "Invalid pool size: ...".
    // [loading thread]
    static std::unique_ptr<Layer> create(std::istream& stream);

private:
    int poolY_;
    int poolX_;
};

} // namespace nn
