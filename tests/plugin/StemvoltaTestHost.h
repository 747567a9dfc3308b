#pragma once
// Stands in for the host adapter: the plug-in off-host, driven with double
// blocks as a host would.
#include "plugin/StemvoltaOfflineHost.h"

#include <vector>

namespace testmodels {

using TestStemvolta = StemvoltaOfflineHost;

// Host-side buffers of one block: the output buffers keep the previous
// block's output, as a host's do.
class HostBlock {
public:
    HostBlock(int channels, int frames)
        : in(channels, std::vector<double>(frames)), out(channels, std::vector<double>(frames)) {}
    void Process(Stemvolta& plug) {
        double* inputs[2] = {nullptr, nullptr};
        double* outputs[2] = {nullptr, nullptr};
        for (size_t c = 0; c < in.size(); ++c) {
            inputs[c] = in[c].data();
            outputs[c] = out[c].data();
        }
        plug.ProcessDoubleReplacing(inputs, outputs, static_cast<int>(in[0].size()));
    }
    std::vector<std::vector<double>> in, out;
};

} // namespace testmodels
