// A layered ensemble of leaky integrate-and-fire neurons: equal layers, one
// input current per layer and call, fixed substeps of 1 ms, spike counts, and
// per-layer firing rates averaged since construction or the last reset.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/util/scratch.hpp"
#include "types/error.hpp"

namespace qel::lif_ensemble {

class LIFEnsemble {
public:
    // Refuses an empty layout and a non-finite noise_std (ValueError texts
    // with the invalid-config prefix), then a neuron count of 2^60 or more
    // ("capacity overflow", internal).
    static Result<LIFEnsemble, PlainError> create(std::size_t n_layers, std::size_t neurons_per_layer,
                                                  double noise_std);

    // Drives layer L with currents[L] for n_substeps substeps and returns the
    // rate of every layer in spikes per second per neuron. A refused call
    // changes nothing.
    QelResult<std::vector<double>> step(std::span<const double> currents, std::uint64_t n_substeps);
    // Back to rest: voltages, counters, spike counts and step_count.
    void reset();

    std::span<const double> voltages() const { return voltages_.span(); }
    std::span<const std::int32_t> refractory() const { return refractory_.span(); }
    std::span<const std::uint64_t> spike_counts() const { return spike_counts_.span(); }
    std::size_t n_total() const { return voltages_.size(); }
    std::size_t n_layers() const { return n_layers_; }
    std::size_t neurons_per_layer() const { return neurons_per_layer_; }
    std::uint64_t step_count() const { return step_count_; }

private:
    LIFEnsemble(std::size_t n_layers, std::size_t neurons_per_layer, double noise_std);

    // Neurons numbered layer-major: neuron m of layer L is L * neurons_per_layer + m.
    // Zero-filled at construction: rest is 0.0, and nothing is touched
    // before the first step.
    ZeroArray<double> voltages_;
    ZeroArray<std::int32_t> refractory_;
    ZeroArray<std::uint64_t> spike_counts_;
    ZeroArray<double> drive_;  // this call's input per neuron
    std::size_t n_layers_ = 0;
    std::size_t neurons_per_layer_ = 0;
    std::uint64_t step_count_ = 0;
    double noise_std_ = 0.0;  // checked, otherwise unused: the model is noiseless
};

}  // namespace qel::lif_ensemble
