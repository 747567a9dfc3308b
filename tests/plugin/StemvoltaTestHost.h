#pragma once
// Stands in for the host adapter: the plug-in off-host, driven with double
// blocks as a host would.
#include "plugin/StemvoltaOfflineHost.h"

#include <algorithm>
#include <cmath>
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

struct Recording {
    std::vector<std::vector<double>> in, out;
};

// Feeds blocks of source(channel, t) and records both sides.
template <typename Source>
Recording PlaySource(Stemvolta& plug, int channels, int block, int blocks, Source source) {
    Recording run{std::vector<std::vector<double>>(channels),
                  std::vector<std::vector<double>>(channels)};
    HostBlock host(channels, block);
    for (int b = 0; b < blocks; ++b) {
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < block; ++i)
                host.in[c][i] = source(c, static_cast<long>(b) * block + i);
        host.Process(plug);
        for (int c = 0; c < channels; ++c) {
            run.in[c].insert(run.in[c].end(), host.in[c].begin(), host.in[c].end());
            run.out[c].insert(run.out[c].end(), host.out[c].begin(), host.out[c].end());
        }
    }
    return run;
}

inline double Peak(const std::vector<double>& v) {
    double p = 0.0;
    for (double x : v) p = std::max(p, std::fabs(x));
    return p;
}

} // namespace testmodels
