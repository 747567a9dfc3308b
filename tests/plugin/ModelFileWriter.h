#pragma once
// Writes small networks in the inference engine's model file format (uint32
// and float32 little-endian: a layer count, then per layer its id and payload)
// so that tests and benchmarks can build the models they load.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace testmodels {

enum ActivationId : uint32_t { kLinear = 1, kRelu = 2, kSigmoid = 6 };

class ModelFileWriter {
public:
    // weights: (units, inputs) row-major; biases: (units).
    ModelFileWriter& Dense(int units, int inputs, const std::vector<float>& weights,
                           const std::vector<float>& biases, uint32_t activation) {
        ++mLayers;
        U32(1);
        U32(static_cast<uint32_t>(units));
        U32(static_cast<uint32_t>(inputs));
        Floats(weights);
        U32(static_cast<uint32_t>(units));
        Floats(biases);
        U32(activation);
        return *this;
    }

    // out[i] = in[i] * weights[i] + biases[i] over n elements.
    ModelFileWriter& BatchNorm(const std::vector<float>& weights,
                               const std::vector<float>& biases) {
        ++mLayers;
        U32(12);
        U32(static_cast<uint32_t>(weights.size()));
        Floats(weights);
        U32(static_cast<uint32_t>(biases.size()));
        Floats(biases);
        return *this;
    }

    // The whole file: the layer count, then the layer records.
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out;
        AppendU32(out, mLayers);
        out.insert(out.end(), mBody.begin(), mBody.end());
        return out;
    }

    bool Save(const std::string& path) const {
        const std::vector<uint8_t> bytes = Bytes();
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && ok;
    }

private:
    static void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U32(uint32_t v) { AppendU32(mBody, v); }
    void Floats(const std::vector<float>& values) {
        for (float f : values) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            U32(bits);
        }
    }

    uint32_t mLayers = 0;
    std::vector<uint8_t> mBody;
};

// A model of `inputs` inputs whose output is the given values whatever the
// input: a dense layer with zero weights, so output u = values[u].
inline ModelFileWriter ConstantModel(const std::vector<float>& values, int inputs = 1024) {
    ModelFileWriter w;
    w.Dense(static_cast<int>(values.size()), inputs,
            std::vector<float>(values.size() * static_cast<size_t>(inputs), 0.0f), values, kLinear);
    return w;
}

// A model of `inputs` inputs whose every output is value: a batch
// normalisation with zero weights (small files for mask tests).
inline ModelFileWriter ConstantMaskModel(float value, int inputs = 1024) {
    ModelFileWriter w;
    w.BatchNorm(std::vector<float>(static_cast<size_t>(inputs), 0.0f),
                std::vector<float>(static_cast<size_t>(inputs), value));
    return w;
}

// A dense model of `outputs` units over `inputs` inputs whose unit u copies
// input firstInput + u (scaled by gain); units past the inputs give 0.
inline ModelFileWriter CopyInputsModel(int inputs, int outputs, int firstInput, float gain = 1.0f) {
    std::vector<float> weights(static_cast<size_t>(inputs) * outputs, 0.0f);
    for (int u = 0; u < outputs; ++u)
        if (firstInput + u < inputs)
            weights[static_cast<size_t>(u) * inputs + firstInput + u] = gain;
    ModelFileWriter w;
    w.Dense(outputs, inputs, weights, std::vector<float>(outputs, 0.0f), kLinear);
    return w;
}

// The shape of the shipped mask networks with pseudo-random weights: batch
// normalisation on 1024 inputs, dense 1024 -> 512 relu, 512 -> 512 relu,
// 512 -> 256 sigmoid.
inline ModelFileWriter ShippedShapeModel(uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1u;
    const auto random = [&](float scale) {
        state = state * 1664525u + 1013904223u;
        return scale * (static_cast<float>(state >> 8) / 16777216.0f * 2.0f - 1.0f);
    };
    const auto values = [&](size_t n, float scale) {
        std::vector<float> v(n);
        for (float& x : v) x = random(scale);
        return v;
    };
    ModelFileWriter w;
    w.BatchNorm(values(1024, 1.0f), values(1024, 0.1f));
    w.Dense(512, 1024, values(512 * 1024, 0.03f), values(512, 0.1f), kRelu);
    w.Dense(512, 512, values(512 * 512, 0.04f), values(512, 0.1f), kRelu);
    w.Dense(256, 512, values(256 * 512, 0.04f), values(256, 0.1f), kSigmoid);
    return w;
}

} // namespace testmodels
