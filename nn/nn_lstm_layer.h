#pragma once
// nn::LstmLayer (layer ID 10): walks the rows of in (steps, inputs) in order
// with a hidden state h and a cell state c of units values, both starting at
// zero, and returns the last h (units) or every step's h (steps, units).
// For gate g in i, f, c, o:
//   wg: (units, inputs), ug: (units, units), bg: units values stored (1, units)
//   gate = (x . wg^T + bg) + h . ug^T        (additions in that order)
//   i, f, o through innerActivation; the candidate cc through activation
//   c = f * c + i * cc;  h = o * activation(c)
// All arithmetic runs through the tensor operations on a private pool of one
// thread, so the layer runs on the prediction's thread whatever its pool.
#include "nn/nn_activation_layer.h"
#include "nn/nn_layer.h"
#include "nn/nn_tensor.h"

#include <array>
#include <iosfwd>
#include <memory>

namespace nn {

class LstmLayer final : public Layer {
public:
    // The twelve weight tensors in file order: wi ui bi wf uf bf wc uc bc wo uo bo.
    using Weights = std::array<Tensor, 12>;

    // The tensors' shapes are consistent (create checks them); activations not null.
    LstmLayer(Weights&& weights, std::unique_ptr<ActivationLayer> innerActivation,
              std::unique_ptr<ActivationLayer> activation, bool returnSequences);

    // Payload: twelve 2-dim tensor records, the inner activation record, the
    // activation record, return sequences (uint32, nonzero = true). Null
    // after "<name> tensor parse failed", "Activation layer parse failed",
    // "Return sequences parse failed" or a report of inconsistent weight
    // shapes. [loading thread] allocates
    static std::unique_ptr<Layer> create(std::istream& stream);

    // Reports and returns false, out untouched, unless in is (steps, inputs)
    // with steps >= 1. The state is kept in data.state() between
    // predictions. [prediction thread] no allocation once the state and out
    // have held these shapes
    bool apply(LayerData& data) const override;

private:
    struct State;
    enum Gate { kI = 0, kF = 1, kC = 2, kO = 3 };

    const Tensor& w(Gate g) const { return weights_[g * 3]; }
    const Tensor& u(Gate g) const { return weights_[g * 3 + 1]; }
    const Tensor& b(Gate g) const { return weights_[g * 3 + 2]; }
    // out = (x . wg^T + bg) + h . ug^T
    void gate(State& s, Gate g, Tensor& out) const;
    // One step from s.x; updates s.c and s.h.
    void step(State& s) const;

    const Weights weights_;
    const std::unique_ptr<ActivationLayer> innerActivation_;
    const std::unique_ptr<ActivationLayer> activation_;
    const bool returnSequences_;
    const uint64_t units_;
    const uint64_t inputs_;
};

} // namespace nn
