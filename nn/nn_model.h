#pragma once
// nn::Model: an ordered chain of layers read from a model file.
//
// File: uint32 layersCount (> 0), then layersCount layer records (uint32 ID
// and payload), all little-endian; bytes after the last layer are ignored.
// A model is immutable once created; predictions on one model from several
// threads are safe as long as each has its own output, pool and scratch.
// Bad files give error reports, never exceptions: a record is checked against
// the bytes the stream holds before it allocates. A machine out of memory
// while a model loads or a shape is first sized gives the report "Out of
// memory" and a null model or false, like any other failure; callers load and
// size ahead of the audio path.
#include "nn/nn_layer.h"
#include "nn/nn_predict_scratch.h"
#include "nn/nn_tensor.h"

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace nn {

class Dispatcher;

class Model {
public:
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
    Model(Model&&) noexcept = default;
    Model& operator=(Model&&) noexcept = default;
    ~Model();

    // Null after an error report ("File open failed: <path>", "File parse
    // failed: <path>", "Parse failed: " for the buffer form). The buffer form
    // reads the caller's block in place; it must stay valid during the call.
    // [loading thread] allocates
    static std::unique_ptr<Model> create(const std::string& path);
    static std::unique_ptr<Model> create(std::istream& stream);
    static std::unique_ptr<Model> create(const char* buffer, size_t size);

    // Runs the chain on a pool of the machine's hardware thread count, built
    // and joined by this call. in is consumed. False after an error report.
    // [control thread] allocates, starts threads
    bool predict(Tensor in, Tensor& out) const;
    // The chain on the caller's pool; in is consumed.
    // [prediction thread] allocates the chain's scratch
    bool predict(Tensor in, Tensor& out, Dispatcher& dispatcher) const;
    // The chain with caller-held scratch: in is copied into the scratch, the
    // chain runs on the scratch's tensors and layer states, and the result is
    // copied into out (into its block when large enough). After the first
    // prediction of a shape, a repeated one allocates nothing and starts no
    // thread. On failure out is left as it was. in and out may be the same
    // tensor.
    // [audio thread] no allocation after the first prediction, no locks but the pool's
    bool predict(const Tensor& in, Tensor& out, Dispatcher& dispatcher,
                 PredictScratch& scratch) const;

    size_t layersCount() const { return layers_.size(); }

private:
    explicit Model(std::vector<std::unique_ptr<Layer>> layers);
    // The layer records of a stream; may throw std::bad_alloc, which create
    // reports.
    static std::unique_ptr<Model> parse(std::istream& stream);
    // The chain on data: the result ends in data.out. False after a report,
    // also when the machine runs out of memory.
    bool run(LayerData& data, std::vector<std::unique_ptr<LayerState>>& states) const;
    bool runLayers(LayerData& data, std::vector<std::unique_ptr<LayerState>>& states) const;

    std::vector<std::unique_ptr<Layer>> layers_; // file order, never empty
};

} // namespace nn
