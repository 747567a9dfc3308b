#pragma once
// nn::Layer, the interface of every layer of a model, and nn::LayerData,
// what one layer's apply sees.
//
// How a layer writes its output (predictions run on the audio thread; after
// the first prediction of a shape they must allocate nothing):
// - apply(data) reads data.in and writes data.out. On entry data.out may
//   hold anything (the caller's old output, or no dimensions but storage
//   kept from earlier predictions), so set its dims and values: size it
//   with Tensor::resize or copy-assign into it (out = biases), which keep the
//   block whenever the element count fits; never move-assign a fresh tensor
//   into it. Every element of out must be written (resize zero-fills only
//   the elements beyond the old size).
// - To hand the input through (activations, flatten) call data.passThrough(),
//   which swaps in and out without copying or allocating. Never swap or move
//   them any other way: the chain counts the exchanges to give reused blocks
//   their roles back after a prediction.
// - Scratch that must survive between predictions (the LSTM's state, any
//   temporary tensor) goes in a layer state: derive from nn::LayerState and
//   call data.state<MyState>(), which creates it on the first call and hands
//   the same object back to later predictions that reuse the caller's
//   nn::PredictScratch. Size its tensors with resize/copy-assignment as above.
//   The state belongs to the prediction, not to the layer: a layer object
//   stays immutable and may serve several predictions at once.
// - Work split over the pool: data.dispatcher.run(n, body) (no allocation).
// - Failures: NN_ERROR(...) then return false; leave out untouched when an
//   input check fails.
#include "nn/nn_tensor.h"

#include <cassert>
#include <iosfwd>
#include <memory>

namespace nn {

class Dispatcher;

// Base of a layer's per-prediction scratch (see above).
class LayerState {
public:
    virtual ~LayerState() = default;
};

class LayerData {
public:
    // A standalone layer call (tests, tools): the layer's state lives in this
    // object. in and out must be distinct tensors.
    LayerData(Tensor& in, Tensor& out, Dispatcher& dispatcher)
        : in(in), out(out), dispatcher(dispatcher), slot_(&ownState_) {
        assert(&in != &out);
    }
    LayerData(const LayerData&) = delete;
    LayerData& operator=(const LayerData&) = delete;

    Tensor& in;             // the current layer's input
    Tensor& out;            // what the current layer writes
    Dispatcher& dispatcher; // the prediction's pool

    // Makes out hold what in held and in hold out's old contents; no copy.
    void passThrough() noexcept {
        in.swap(out);
        ++exchanges_;
    }
    // How many times in and out have traded blocks (passThrough calls): the
    // model's chain uses it to give reused blocks back their roles.
    unsigned exchanges() const { return exchanges_; }

    // The current layer's state of type T, created (allocating) when the slot
    // is empty or holds another type; afterwards the same object.
    template <typename T> T& state() {
        T* existing = dynamic_cast<T*>(slot_->get());
        if (existing) return *existing;
        *slot_ = std::make_unique<T>();
        return static_cast<T&>(**slot_);
    }

    // Points state() at the slot of the layer about to run (the model's
    // chain does this per layer).
    void setStateSlot(std::unique_ptr<LayerState>* slot) { slot_ = slot ? slot : &ownState_; }

private:
    std::unique_ptr<LayerState> ownState_;
    std::unique_ptr<LayerState>* slot_;
    unsigned exchanges_ = 0;
};

class Layer {
public:
    virtual ~Layer() = default;
    Layer() = default;
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // Computes data.out from data.in; false after an error report.
    // [prediction thread] no allocation once out and the state have their sizes
    virtual bool apply(LayerData& data) const = 0;

    // Reads one layer record (uint32 ID, then its payload). Null after an
    // error report. [loading thread]
    static std::unique_ptr<Layer> create(std::istream& stream);

protected:
    // Reports and gives false unless in has exactly rank dimensions:
    // "Input tensor dims count must be <rank> (input dims: [..])".
    static bool checkInputRank(const Tensor& in, size_t rank);
};

} // namespace nn
