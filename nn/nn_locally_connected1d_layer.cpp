#include "nn/nn_locally_connected1d_layer.h"

#include "nn/nn_parser.h"

namespace nn {

std::unique_ptr<Layer> LocallyConnected1DLayer::create(std::istream& stream) {
    return createAs<LocallyConnected1DLayer>(stream, 3, 2);
}

bool LocallyConnected1DLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    const Tensor::Dims& wd = weights_.dims();
    if (!checkInputRank(in, 2)) return false;
    // A window of L floats must cover whole input steps: otherwise the last
    // windows would read past the input (and 0 channels would divide by 0).
    const uint64_t channels = in.dims()[1];
    if (channels == 0 || wd[2] % channels != 0)
        return reportInputMismatch("Input tensor dims[1] must divide weights dims[2]", in);
    const uint64_t offset = wd[2] / channels - 1;
    if (in.dims()[0] != wd[0] + offset) {
        NN_ERROR("Input tensor dims[0] must be the same as weights dims[0] + offset"
                 << " (input dims: " << formatDims(in.dims()) << ")"
                 << " (weights dims: " << formatDims(wd) << ")"
                 << " (offset: " << offset << ")");
        return false;
    }
    data.out.resize(wd[0], wd[1]);
    return multiplyAddThenActivate(int(wd[2]), data, [&](auto kernel) {
        multiplyAddImpl<decltype(kernel)>(weights_, biases_, data);
    });
}

// Parts over the output steps; each writes its own steps of out.
template <typename Kernel>
void LocallyConnected1DLayer::multiplyAddImpl(const Tensor& weights, const Tensor& biases,
                                              LayerData& data) const {
    const int filters = int(weights.dims()[1]);
    const int L = int(weights.dims()[2]);
    const int channels = int(data.in.dims()[1]);
    const int steps = int(weights.size() / (size_t(filters) * L));
    const float* w = weights.data();
    const float* b = biases.data();
    const float* x = data.in.data();
    float* y = data.out.data();
    data.dispatcher.run(steps, [=](int start, int end) {
        for (int s = start; s < end; ++s) {
            const float* window = x + size_t(s) * channels;
            for (int f = 0; f < filters; ++f) {
                const size_t o = size_t(s) * filters + f;
                y[o] = b[o] + Kernel::sum(window, w + o * L, L);
            }
        }
    });
}

} // namespace nn
