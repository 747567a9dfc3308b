// nn-predict: runs a model file on raw float32 inputs.
//
//   nn-predict [--dims D0,D1,...] [--threads N] MODEL INPUT OUTPUT
//
// INPUT holds one or more inputs of dims D0 x D1 x ... (1 to 4 dims; without
// --dims the whole file is one input of one dimension) as little-endian
// float32, one after the other. Each is predicted in order on one pool of N
// threads (default 1, as the plug-in runs its models) and the outputs are
// written to OUTPUT back to back. The output dims of the last prediction go
// to standard output.
//
// Exit status: 0 on success; 1 when the model does not load or a prediction
// fails (the engine's error report is on standard error); 2 on bad arguments
// or files.
#include "nn/nn_dispatcher.h"
#include "nn/nn_model.h"
#include "nn/nn_predict_scratch.h"
#include "nn/nn_tensor.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] = "usage: nn-predict [--dims D0,D1,...] [--threads N] MODEL INPUT OUTPUT\n";

int usageError(const std::string& message) {
    std::cerr << "nn-predict: " << message << "\n" << kUsage;
    return 2;
}

// "D0,D1,..." with 1 to 4 positive sizes.
bool parseDims(const std::string& text, std::vector<uint64_t>& dims) {
    dims.clear();
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || errno != 0 || v == 0 || item[0] == '-') return false;
        dims.push_back(v);
    }
    return !dims.empty() && dims.size() <= 4;
}

bool parseThreads(const std::string& text, unsigned& threads) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v == 0 || v > 1024) return false;
    threads = unsigned(v);
    return true;
}

void shape(nn::Tensor& t, const std::vector<uint64_t>& d) {
    switch (d.size()) {
    case 1:
        t.resize(d[0]);
        break;
    case 2:
        t.resize(d[0], d[1]);
        break;
    case 3:
        t.resize(d[0], d[1], d[2]);
        break;
    default:
        t.resize(d[0], d[1], d[2], d[3]);
        break;
    }
}

bool readFloats(const std::string& path, std::vector<float>& values) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    if (file.bad() || bytes.size() % sizeof(float) != 0) return false;
    values.resize(bytes.size() / sizeof(float));
    if (!bytes.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<uint64_t> dims;
    unsigned threads = 1;
    std::vector<std::string> paths;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--dims" || arg == "--threads") {
            if (a + 1 >= argc) return usageError(arg + " needs a value");
            const std::string value = argv[++a];
            if (arg == "--dims" && !parseDims(value, dims))
                return usageError("bad dims '" + value + "' (1 to 4 positive sizes)");
            if (arg == "--threads" && !parseThreads(value, threads))
                return usageError("bad thread count '" + value + "'");
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 3) return usageError("expected MODEL INPUT OUTPUT");

    const std::unique_ptr<nn::Model> model = nn::Model::create(paths[0]);
    if (!model) {
        std::cerr << "nn-predict: " << paths[0] << ": model not loaded\n";
        return 1;
    }

    std::vector<float> input;
    if (!readFloats(paths[1], input))
        return usageError(paths[1] + ": cannot be read as float32 values");
    if (dims.empty()) dims.push_back(input.size());
    uint64_t perInput = 1;
    for (uint64_t d : dims) perInput *= d;
    if (input.empty() || perInput == 0 || perInput > nn::Tensor::kMaxElements ||
        input.size() % perInput != 0)
        return usageError(paths[1] + ": " + std::to_string(input.size()) +
                          " values are not a whole number of inputs of " + nn::formatDims(dims));

    std::ofstream output(paths[2], std::ios::binary | std::ios::trunc);
    if (!output) return usageError(paths[2] + ": cannot be written");

    nn::Dispatcher pool(threads);
    nn::PredictScratch scratch;
    nn::Tensor in, out;
    const uint64_t count = input.size() / perInput;
    for (uint64_t n = 0; n < count; ++n) {
        shape(in, dims);
        std::memcpy(in.data(), input.data() + n * perInput, perInput * sizeof(float));
        if (!model->predict(in, out, pool, scratch)) {
            std::cerr << "nn-predict: prediction " << n << " of " << count << " failed\n";
            return 1;
        }
        output.write(reinterpret_cast<const char*>(out.data()),
                     std::streamsize(out.size() * sizeof(float)));
    }
    output.close();
    if (!output) return usageError(paths[2] + ": write failed");
    std::cout << count << " prediction(s), output dims " << nn::formatDims(out.dims()) << "\n";
    return 0;
}
