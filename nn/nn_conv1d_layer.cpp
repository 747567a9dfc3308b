#include "nn/nn_conv1d_layer.h"

namespace nn {

std::unique_ptr<Layer> Conv1DLayer::create(std::istream& stream) {
    return createAs<Conv1DLayer>(stream, 3, 1);
}

bool Conv1DLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    const Tensor::Dims& wd = weights_.dims();
    if (!checkInputRank(in, 2)) return false;
    if (in.dims()[1] != wd[2])
        return reportInputMismatch("Input tensor dims[1] must be the same as weights dims[2]", in);
    if (in.dims()[0] < wd[1])
        return reportInputMismatch("Input tensor dims[0] must not be less than weights dims[1]",
                                   in);
    const uint64_t outSteps = in.dims()[0] - wd[1] + 1;
    if (!checkOutputSize(outSteps * wd[0], in)) return false;
    data.out.resize(outSteps, wd[0]);
    return multiplyAddThenActivate(int(wd[1] * wd[2]), data, [&](auto kernel) {
        multiplyAddImpl<decltype(kernel)>(weights_, biases_, data);
    });
}

// Parts over the output steps; each writes its own steps of out.
template <typename Kernel>
void Conv1DLayer::multiplyAddImpl(const Tensor& weights, const Tensor& biases,
                                  LayerData& data) const {
    const int channels = int(weights.dims()[2]);
    const int L = int(weights.dims()[1]) * channels;
    const int filters = int(data.out.dims()[1]);
    const float* w = weights.data();
    const float* b = biases.data();
    const float* x = data.in.data();
    float* y = data.out.data();
    data.dispatcher.run(int(data.out.dims()[0]), [=](int start, int end) {
        for (int i = start; i < end; ++i) {
            const float* window = x + size_t(i) * channels;
            float* row = y + size_t(i) * filters;
            for (int f = 0; f < filters; ++f)
                row[f] = b[f] + Kernel::sum(window, w + size_t(f) * L, L);
        }
    });
}

} // namespace nn
