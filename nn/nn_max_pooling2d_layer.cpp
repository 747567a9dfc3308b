#include "nn/nn_max_pooling2d_layer.h"

#include "nn/nn_dispatcher.h"
#include "nn/nn_kernels.h"
#include "nn/nn_parser.h"

#include <cstdint>
#include <istream>
#include <limits>

namespace nn {

namespace {
struct PoolShape {
    int poolY, poolX;
    int inColumns, outColumns, channels;
};

// Output rows [start, end): each output (r, c) is the running maximum over
// its pool rows, then pool columns, channel by channel.
template <typename Kernel>
void maxImpl(const float* in, float* out, const PoolShape& s, Dispatcher& pool, int rows) {
    pool.run(rows, [in, out, &s](int start, int end) {
        const size_t ch = size_t(s.channels);
        for (int r = start; r < end; ++r)
            for (int c = 0; c < s.outColumns; ++c) {
                float* dst = out + (size_t(r) * size_t(s.outColumns) + size_t(c)) * ch;
                for (int py = 0; py < s.poolY; ++py)
                    for (int px = 0; px < s.poolX; ++px) {
                        const size_t row = size_t(r) * size_t(s.poolY) + size_t(py);
                        const size_t column = size_t(c) * size_t(s.poolX) + size_t(px);
                        Kernel::run(in + (row * size_t(s.inColumns) + column) * ch, dst,
                                    s.channels);
                    }
            }
    });
}
} // namespace

bool MaxPooling2DLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    if (!checkInputRank(in, 3)) return false;
    Tensor& out = data.out;
    out.resize(in.dims()[0] / uint64_t(poolY_), in.dims()[1] / uint64_t(poolX_), in.dims()[2]);
    out.fill(-std::numeric_limits<float>::infinity());
    const PoolShape shape{poolY_, poolX_, int(in.dims()[1]), int(out.dims()[1]), int(in.dims()[2])};
    const int rows = int(out.dims()[0]);
    if (chooseMaxKernel(shape.channels, data.dispatcher.threadsCount()) == KernelKind::Vector)
        maxImpl<VectorMax>(in.data(), out.data(), shape, data.dispatcher, rows);
    else
        maxImpl<ScalarMax>(in.data(), out.data(), shape, data.dispatcher, rows);
    return true;
}

std::unique_ptr<Layer> MaxPooling2DLayer::create(std::istream& stream) {
    uint32_t poolY = 0, poolX = 0;
    if (!Parser::read(stream, poolY)) {
        NN_ERROR("Pool size Y parse failed");
        return nullptr;
    }
    if (!Parser::read(stream, poolX)) {
        NN_ERROR("Pool size X parse failed");
        return nullptr;
    }
    // A pool of 0 would divide by zero; above INT32_MAX it would turn negative.
    const uint32_t limit = uint32_t(std::numeric_limits<int32_t>::max());
    if (poolY == 0 || poolY > limit || poolX == 0 || poolX > limit) {
        NN_ERROR("Invalid pool size: " << poolY << " x " << poolX);
        return nullptr;
    }
    return std::make_unique<MaxPooling2DLayer>(int(poolY), int(poolX));
}

} // namespace nn
