#include "nn/nn_lstm_layer.h"

#include "nn/nn_dispatcher.h"
#include "nn/nn_parser.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace nn {

namespace {
const char* const kTensorNames[12] = {"wi", "ui", "bi", "wf", "uf", "bf",
                                      "wc", "uc", "bc", "wo", "uo", "bo"};

// The layer relies on these shapes: a mismatch would make the dot products
// and additions read past a tensor.
bool checkShapes(const LstmLayer::Weights& t) {
    const uint64_t units = t[11].dims()[1];
    const uint64_t inputs = t[0].dims()[1];
    for (int n = 0; n < 12; ++n) {
        const Tensor::Dims& d = t[n].dims();
        bool ok;
        Tensor::Dims expected;
        switch (n % 3) {
        case 0: // wg
            expected = {units, inputs};
            ok = d == expected;
            break;
        case 1: // ug
            expected = {units, units};
            ok = d == expected;
            break;
        default: // bg: units values
            expected = {1, units};
            ok = t[n].size() == units;
            break;
        }
        if (!ok) {
            NN_ERROR("Invalid " << kTensorNames[n] << " tensor dims"
                                << " (" << kTensorNames[n] << " dims: " << formatDims(d) << ")"
                                << " (expected dims: " << formatDims(expected) << ")");
            return false;
        }
    }
    return true;
}
} // namespace

// Scratch of one prediction; kept between predictions that reuse the
// caller's scratch so that only the first one allocates.
struct LstmLayer::State : LayerState {
    Dispatcher pool{1};
    Tensor h, c;        // hidden and cell state, (1, units)
    Tensor x;           // the current input row, (1, inputs)
    Tensor i, f, cc, o; // gates; cc is the candidate
    Tensor t1, t2;      // temporaries
};

LstmLayer::LstmLayer(Weights&& weights, std::unique_ptr<ActivationLayer> innerActivation,
                     std::unique_ptr<ActivationLayer> activation, bool returnSequences)
    : weights_(std::move(weights)), innerActivation_(std::move(innerActivation)),
      activation_(std::move(activation)), returnSequences_(returnSequences),
      units_(weights_[11].dims()[1]), inputs_(weights_[0].dims()[1]) {
    assert(innerActivation_ && activation_);
}

std::unique_ptr<Layer> LstmLayer::create(std::istream& stream) {
    Weights weights;
    for (int n = 0; n < 12; ++n) {
        std::unique_ptr<Tensor> t = Tensor::create(2, stream);
        if (!t) {
            NN_ERROR(kTensorNames[n] << " tensor parse failed");
            return nullptr;
        }
        weights[n] = std::move(*t);
    }
    std::unique_ptr<ActivationLayer> inner = ActivationLayer::create(stream);
    if (!inner) {
        NN_ERROR("Activation layer parse failed");
        return nullptr;
    }
    std::unique_ptr<ActivationLayer> activation = ActivationLayer::create(stream);
    if (!activation) {
        NN_ERROR("Activation layer parse failed");
        return nullptr;
    }
    uint32_t returnSequences = 0;
    if (!Parser::read(stream, returnSequences)) {
        NN_ERROR("Return sequences parse failed");
        return nullptr;
    }
    if (!checkShapes(weights)) return nullptr;
    return std::make_unique<LstmLayer>(std::move(weights), std::move(inner), std::move(activation),
                                       returnSequences != 0);
}

void LstmLayer::gate(State& s, Gate g, Tensor& out) const {
    s.x.dot(w(g), s.t1, s.pool);
    s.t1.add(b(g), s.t2, s.pool);
    s.h.dot(u(g), s.t1, s.pool);
    s.t2.add(s.t1, out, s.pool);
}

void LstmLayer::step(State& s) const {
    gate(s, kI, s.i);
    innerActivation_->apply(s.i);
    gate(s, kF, s.f);
    innerActivation_->apply(s.f);
    gate(s, kC, s.cc);
    activation_->apply(s.cc);
    gate(s, kO, s.o);
    innerActivation_->apply(s.o);
    s.f.multiply(s.c, s.t1, s.pool);
    s.i.multiply(s.cc, s.t2, s.pool);
    s.t1.add(s.t2, s.c, s.pool);
    s.cc = s.c;
    activation_->apply(s.cc);
    s.o.multiply(s.cc, s.h, s.pool);
}

bool LstmLayer::apply(LayerData& data) const {
    const Tensor& in = data.in;
    if (!checkInputRank(in, 2)) return false;
    if (in.dims()[1] != inputs_) {
        NN_ERROR("Input tensor dims[1] must be the same as wi dims[1]"
                 << " (input dims: " << formatDims(in.dims()) << ")"
                 << " (wi dims: " << formatDims(w(kI).dims()) << ")");
        return false;
    }
    const uint64_t steps = in.dims()[0];
    if (steps == 0) {
        NN_ERROR("Input tensor has no steps"
                 << " (input dims: " << formatDims(in.dims()) << ")");
        return false;
    }

    State& s = data.state<State>();
    s.h.resize(1, units_);
    s.h.fill(0.0f);
    s.c.resize(1, units_);
    s.c.fill(0.0f);
    if (returnSequences_) data.out.resize(steps, units_);
    for (uint64_t t = 0; t < steps; ++t) {
        in.selectRow(t, s.x);
        step(s);
        if (returnSequences_) std::copy_n(s.h.data(), units_, data.out.data() + t * units_);
    }
    if (!returnSequences_) data.out = s.h;
    data.out.eraseDummyDims();
    return true;
}

} // namespace nn
