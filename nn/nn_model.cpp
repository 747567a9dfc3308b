#include "nn/nn_model.h"

#include "nn/nn_dispatcher.h"
#include "nn/nn_membuf.h"
#include "nn/nn_parser.h"

#include <fstream>
#include <istream>
#include <new>

namespace nn {

Model::Model(std::vector<std::unique_ptr<Layer>> layers) : layers_(std::move(layers)) {}

Model::~Model() {
    while (!layers_.empty()) layers_.pop_back(); // last layer first
}

std::unique_ptr<Model> Model::create(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        NN_ERROR("File open failed: " << path);
        return nullptr;
    }
    std::unique_ptr<Model> model = create(file);
    if (!model) NN_ERROR("File parse failed: " << path);
    return model;
}

std::unique_ptr<Model> Model::create(const char* buffer, size_t size) {
    membuf block(buffer, buffer ? size : 0);
    std::istream stream(&block);
    std::unique_ptr<Model> model = create(stream);
    if (!model) NN_ERROR("Parse failed: ");
    return model;
}

std::unique_ptr<Model> Model::create(std::istream& stream) {
    // Records are checked against the stream before anything is sized, so only
    // a machine out of memory can throw here; no exception leaves the engine.
    try {
        return parse(stream);
    } catch (const std::bad_alloc&) {
        NN_ERROR("Out of memory");
        return nullptr;
    }
}

std::unique_ptr<Model> Model::parse(std::istream& stream) {
    uint32_t layersCount = 0;
    if (!Parser::read(stream, layersCount)) {
        NN_ERROR("Layers count parse failed");
        return nullptr;
    }
    if (layersCount == 0) {
        NN_ERROR("Invalid layers count: " << layersCount);
        return nullptr;
    }
    // Not reserved by the stored count: a corrupt count must not allocate.
    std::vector<std::unique_ptr<Layer>> layers;
    for (uint32_t i = 0; i < layersCount; ++i) {
        std::unique_ptr<Layer> layer = Layer::create(stream);
        if (!layer) {
            NN_ERROR("Layer parse failed");
            while (!layers.empty()) layers.pop_back();
            return nullptr;
        }
        layers.push_back(std::move(layer));
    }
    return std::unique_ptr<Model>(new Model(std::move(layers)));
}

bool Model::predict(Tensor in, Tensor& out) const {
    Dispatcher dispatcher;
    return predict(std::move(in), out, dispatcher);
}

bool Model::predict(Tensor in, Tensor& out, Dispatcher& dispatcher) const {
    std::vector<std::unique_ptr<LayerState>> states;
    LayerData data(in, out, dispatcher);
    return run(data, states);
}

bool Model::predict(const Tensor& in, Tensor& out, Dispatcher& dispatcher,
                    PredictScratch& scratch) const {
    scratch.in_ = in; // keeps the scratch block when it is large enough
    LayerData data(scratch.in_, scratch.out_, dispatcher);
    const bool ok = run(data, scratch.states_);
    if (ok) out = scratch.out_;
    // Hand each block its first role back, so that the next prediction asks
    // of every block what this one did.
    if (data.exchanges() % 2 != 0) scratch.in_.swap(scratch.out_);
    return ok;
}

bool Model::run(LayerData& data, std::vector<std::unique_ptr<LayerState>>& states) const {
    // The first prediction of a shape sizes its tensors and layer states.
    try {
        return runLayers(data, states);
    } catch (const std::bad_alloc&) {
        NN_ERROR("Out of memory");
        return false;
    }
}

bool Model::runLayers(LayerData& data, std::vector<std::unique_ptr<LayerState>>& states) const {
    if (data.in.dims().empty()) {
        NN_ERROR("Input tensor is not valid");
        return false;
    }
    if (!data.dispatcher.isValid()) {
        NN_ERROR("Worker pool is not running");
        return false;
    }
    if (states.size() != layers_.size()) states.resize(layers_.size());
    const size_t last = layers_.size() - 1;
    for (size_t i = 0; i <= last; ++i) {
        data.setStateSlot(&states[i]);
        if (!layers_[i]->apply(data)) {
            NN_ERROR("Layer apply failed");
            return false;
        }
        if (i != last) {
            // The output becomes the next input; both blocks stay for reuse.
            data.passThrough();
            data.out.clear();
        }
    }
    return true;
}

} // namespace nn
