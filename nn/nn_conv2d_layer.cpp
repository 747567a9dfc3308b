#include "nn/nn_conv2d_layer.h"

namespace nn {

std::unique_ptr<Layer> Conv2DLayer::create(std::istream& stream) {
    return createAs<Conv2DLayer>(stream, 4, 1);
}

bool Conv2DLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    const Tensor::Dims& wd = weights_.dims();
    if (!checkInputRank(in, 3)) return false;
    if (in.dims()[2] != wd[3])
        return reportInputMismatch("Input tensor dims[2] must be the same as weights dims[3]", in);
    if (in.dims()[0] < wd[1] || in.dims()[1] < wd[2])
        return reportInputMismatch(
            "Input tensor dims[0] and dims[1] must not be less than weights dims[1] and dims[2]",
            in);
    const uint64_t outRows = in.dims()[0] - wd[1] + 1, outColumns = in.dims()[1] - wd[2] + 1;
    if (!checkOutputSize(outRows * outColumns * wd[0], in)) return false;
    data.out.resize(outRows, outColumns, wd[0]);
    return multiplyAddThenActivate(int(wd[2] * wd[3]), data, [&](auto kernel) {
        multiplyAddImpl<decltype(kernel)>(weights_, biases_, data);
    });
}

// Parts over the output rows; each writes its own rows of out.
template <typename Kernel>
void Conv2DLayer::multiplyAddImpl(const Tensor& weights, const Tensor& biases,
                                  LayerData& data) const {
    const int kernelRows = int(weights.dims()[1]);
    const int channels = int(weights.dims()[3]);
    const int L = int(weights.dims()[2]) * channels;
    const size_t inRowFloats = size_t(data.in.dims()[1]) * channels;
    const int outColumns = int(data.out.dims()[1]);
    const int filters = int(data.out.dims()[2]);
    const float* w = weights.data();
    const float* b = biases.data();
    const float* x = data.in.data();
    float* y = data.out.data();
    data.dispatcher.run(int(data.out.dims()[0]), [=](int start, int end) {
        for (int i = start; i < end; ++i) {
            for (int j = 0; j < outColumns; ++j) {
                float* cell = y + (size_t(i) * outColumns + j) * filters;
                for (int f = 0; f < filters; ++f) {
                    float s = b[f];
                    for (int r = 0; r < kernelRows; ++r)
                        s = s +
                            Kernel::sum(x + (size_t(i) + r) * inRowFloats + size_t(j) * channels,
                                        w + (size_t(f) * kernelRows + r) * L, L);
                    cell[f] = s;
                }
            }
        }
    });
}

} // namespace nn
