#include "engine/lif_ensemble.hpp"

#include <algorithm>
#include <cmath>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "types/format.hpp"

namespace qel::lif_ensemble {

namespace {

// The model's fixed parameters.
constexpr double kVRest = 0.0;  // also the value of the zero-filled voltages at construction
constexpr double kVReset = 0.0;
constexpr double kVThreshold = 1.0;
constexpr double kTauMs = 20.0;
constexpr double kDtMs = 1.0;
constexpr double kLeak = kDtMs / kTauMs;
constexpr double kInputGain = 1.0;
constexpr std::int32_t kRefractorySteps = 0;

// Neurons per pool task: what a substep reads of them (24 bytes each) stays
// in L1 while the task runs its substeps over them.
constexpr std::size_t kChunk = 1024;
// Neuron-substeps per pass over the ensemble: between passes the calling
// thread looks for an interrupt request.
constexpr std::uint64_t kPassWork = std::uint64_t{1} << 27;

PlainError config_error(const char* msg) {
    return PlainError::value_error(QelError::invalid_config(msg).python_text());
}

// Runs `substeps` substeps of the neurons [0, len) of a chunk. No neuron reads
// another, so each runs all its substeps before the next chunk.
//
// A neuron is held at rest while its refractory counter is positive, and a
// spike sets the counter to refractory_steps. With refractory_steps 0 every
// counter stays 0 from construction on, so no neuron is ever held: the loop
// reads no counter.
static_assert(kRefractorySteps == 0, "advance() skips the refractory counters");
void advance(double* v, std::uint64_t* spikes, const double* drive, std::size_t len, std::uint64_t substeps) {
    for (std::uint64_t k = 0; k < substeps; ++k) {
        for (std::size_t i = 0; i < len; ++i) {
            const double vi = v[i];
            const double integrated = (drive[i] - (vi - kVRest) * kLeak) + vi;
            const bool fire = integrated >= kVThreshold;
            // Plain selects, in this form, are what the vectoriser takes.
            double after = integrated;
            std::uint64_t count = spikes[i];
            if (fire) after = kVReset;
            if (fire) count = count + 1;
            v[i] = after;
            spikes[i] = count;
        }
    }
}

}  // namespace

LIFEnsemble::LIFEnsemble(std::size_t n_layers, std::size_t neurons_per_layer, double noise_std)
    : voltages_(n_layers * neurons_per_layer),
      refractory_(n_layers * neurons_per_layer),
      spike_counts_(n_layers * neurons_per_layer),
      drive_(n_layers * neurons_per_layer),
      n_layers_(n_layers),
      neurons_per_layer_(neurons_per_layer),
      noise_std_(noise_std) {}

Result<LIFEnsemble, PlainError> LIFEnsemble::create(std::size_t n_layers, std::size_t neurons_per_layer,
                                                    double noise_std) {
    if (n_layers == 0 || neurons_per_layer == 0) return config_error("n_layers and neurons_per_layer must be > 0");
    if (!std::isfinite(noise_std)) return config_error("LIF params must be finite, dt>0, refractory_period>=0");
    if (!buffer_len(n_layers, neurons_per_layer)) return capacity_overflow();
    return LIFEnsemble(n_layers, neurons_per_layer, noise_std);
}

QelResult<std::vector<double>> LIFEnsemble::step(std::span<const double> currents, std::uint64_t n_substeps) {
    if (currents.size() != n_layers_)
        return QelError::invalid_config(text::cat("expected ", n_layers_, " currents, got ", currents.size()));
    if (n_substeps == 0) return QelError::invalid_config("n_substeps must be > 0");
    if (!all_finite_serial(currents)) return QelError::invalid_config("currents must be finite per layer");

    const std::size_t n = n_total();
    const std::size_t per_layer = neurons_per_layer_;
    const std::uint64_t per_pass = std::max<std::uint64_t>(1, kPassWork / n);
    bool first = true;
    for (std::uint64_t done = 0; done < n_substeps;) {
        if (!first && interrupted()) return interrupted_error<QelError>();
        const std::uint64_t count = std::min(per_pass, n_substeps - done);
        pool::for_chunks(n, kChunk, [&](std::size_t b, std::size_t e) {
            if (first) {
                // The drive stays fixed for every substep of the call.
                for (std::size_t i = b; i < e;) {
                    const std::size_t layer = i / per_layer;
                    const std::size_t end = std::min(e, (layer + 1) * per_layer);
                    std::fill(drive_.data() + i, drive_.data() + end, currents[layer] * kInputGain);
                    i = end;
                }
            }
            advance(voltages_.data() + b, spike_counts_.data() + b, drive_.data() + b, e - b, count);
        });
        first = false;
        done += count;
        step_count_ += count;
    }

    // Rates over every substep since construction or the last reset.
    const double window = (static_cast<double>(step_count_) * kDtMs) / 1000.0;
    const double per_layer_f = static_cast<double>(per_layer);
    std::vector<double> rates(n_layers_);
    for (std::size_t layer = 0; layer < n_layers_; ++layer) {
        std::uint64_t spikes = 0;
        for (std::size_t i = layer * per_layer; i < (layer + 1) * per_layer; ++i) spikes += spike_counts_.data()[i];
        rates[layer] = static_cast<double>(spikes) / (window * per_layer_f);
    }
    return rates;
}

void LIFEnsemble::reset() {
    std::ranges::fill(voltages_.span(), kVRest);
    std::ranges::fill(refractory_.span(), 0);
    std::ranges::fill(spike_counts_.span(), 0);
    step_count_ = 0;
}

}  // namespace qel::lif_ensemble
