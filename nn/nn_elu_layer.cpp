#include "nn/nn_elu_layer.h"

#include "nn/nn_parser.h"

#include <istream>
#include <math.h>

namespace nn {

bool EluLayer::apply(LayerData& data) const {
    data.passThrough();
    float* x = data.out.data();
    for (size_t i = 0, n = data.out.size(); i < n; ++i)
        if (x[i] < 0.0f) x[i] = alpha_ * expm1f(x[i]);
    return true;
}

std::unique_ptr<Layer> EluLayer::create(std::istream& stream) {
    float alpha = 0.0f;
    if (!Parser::read(stream, alpha)) {
        NN_ERROR("Alpha parse failed");
        return nullptr;
    }
    return std::make_unique<EluLayer>(alpha);
}

} // namespace nn
