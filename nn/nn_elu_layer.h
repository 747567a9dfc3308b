#pragma once
// nn::EluLayer (layer ID 7): x < 0 becomes alpha * expm1f(x), others stay.
// Payload: alpha, float32.
#include "nn/nn_layer.h"

#include <iosfwd>
#include <memory>

namespace nn {

class EluLayer final : public Layer {
public:
    explicit EluLayer(float alpha) : alpha_(alpha) {}
    // Never fails. [prediction thread] no allocation
    bool apply(LayerData& data) const override;
    // Null after "Alpha parse failed". [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

private:
    float alpha_;
};

} // namespace nn
