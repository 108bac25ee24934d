// The UPDE on compressed sparse rows: row i owns the edge entries
// row_ptr[i] .. row_ptr[i+1], entry k coupling oscillator col_indices[k] into
// oscillator i with strength knm_values[k] and lag alpha_values[k]. Same
// stepper core and plasticity rule as the dense stepper. Large networks run
// on the pool in fixed chunks of rows, with the same bits as on one thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/order_params.hpp"
#include "engine/plasticity.hpp"
#include "engine/util/stepper_core.hpp"
#include "types/config.hpp"
#include "types/error.hpp"

namespace qel::sparse_upde {

// From this much work on (oscillators plus edges, an edge with lags counting
// kLagWeight for its sine), the derivative and the edge scan run on the pool:
// rows in chunks of kRowChunk, edges in chunks of kEdgeChunk.
inline constexpr std::size_t kParallelMinWork = std::size_t{1} << 17;
inline constexpr std::size_t kLagWeight = 4;
inline constexpr std::size_t kRowChunk = 2048;
inline constexpr std::size_t kEdgeChunk = std::size_t{1} << 16;

struct Csr {
    std::span<const std::size_t> row_ptr;
    std::span<const std::size_t> col_indices;
    std::span<double> knm_values;  // written by plasticity
    std::span<const double> alpha_values;
};

// out = dtheta/dt at phases; refreshes sin_theta and cos_theta. The CSR
// arrays are the caller's guarantee (SparseUPDEStepper::step checks them).
void compute_derivative(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas,
                        std::span<const std::size_t> row_ptr, std::span<const std::size_t> col_indices,
                        std::span<const double> knm_values, std::span<const double> alpha_values, bool all_alpha_zero,
                        std::span<double> out, double zeta, double psi);

class SparseUPDEStepper {
public:
    // "n must be > 0", then the configuration's checks; throws std::bad_alloc
    // when the scratch cannot be had.
    static QelResult<SparseUPDEStepper> create(std::size_t n, const IntegrationConfig& config);

    // One step: checks, integration, plasticity on knm_values (when set),
    // wrapping. On failure nothing has changed.
    Status step(std::span<double> phases, std::span<const double> omegas, const Csr& csr, double zeta, double psi);
    // n_steps steps; the first failure (or an interrupt) ends the run, keeping
    // what the steps before it did.
    Status run(std::span<double> phases, std::span<const double> omegas, const Csr& csr, double zeta, double psi,
               std::uint64_t n_steps);

    Status set_plasticity(double lr, double decay, double modulator) { return plasticity_.set(lr, decay, modulator); }
    // The modulator stays as it was.
    void disable_plasticity() { plasticity_.model.reset(); }

    // R and psi of the phases behind sin_theta and cos_theta: those of the
    // last derivative evaluation of the last successful step; (0, 0) before.
    order_params::OrderParameter order_parameter() const;

    std::size_t n() const { return n_; }
    double last_dt() const { return core_.last_dt(); }

private:
    SparseUPDEStepper() = default;

    StepperCore core_;
    std::span<double> sin_theta_, cos_theta_;
    std::size_t n_ = 0;
    plasticity::PlasticitySetting plasticity_;
};

}  // namespace qel::sparse_upde
