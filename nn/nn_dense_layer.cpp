#include "nn/nn_dense_layer.h"

#include "nn/nn_dense_rows.h"

namespace nn {

std::unique_ptr<Layer> DenseLayer::create(std::istream& stream) {
    return createAs<DenseLayer>(stream, 2, 1);
}

bool DenseLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    if (!checkInputRank(in, 1)) return false;
    if (in.dims()[0] != weights_.dims()[1])
        return reportInputMismatch("Input tensor dims[0] must be the same as weights dims[1]", in);
    data.out = biases_;
    return multiplyAddThenActivate(int(weights_.dims()[1]), data, [&](auto kernel) {
        multiplyAddImpl<decltype(kernel)>(weights_, data);
    });
}

// Parts over the units; each writes its own rows of out, which holds the
// biases: out[u] = S(weights row u, in) + out[u].
template <typename Kernel>
void DenseLayer::multiplyAddImpl(const Tensor& weights, LayerData& data) const {
    const int inputs = int(weights.dims()[1]);
    const int units = int(weights.size() / size_t(inputs));
    const float* w = weights.data();
    const float* x = data.in.data();
    float* y = data.out.data();
    data.dispatcher.run(units, [=](int start, int end) {
        DenseRows::addSumsFastest<Kernel>(w + size_t(start) * inputs, size_t(inputs), x, inputs,
                                          end - start, y + start);
    });
}

} // namespace nn
