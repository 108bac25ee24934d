// The UPDE on compressed sparse rows: row i owns the edge entries
// row_ptr[i] .. row_ptr[i+1], entry k coupling oscillator col_indices[k] into
// oscillator i with strength knm_values[k] and lag alpha_values[k]. Same
// record, integrators and plasticity rule as the dense stepper; serial.
#pragma once
#include <cstddef>
#include <span>

#include "engine/order_params.hpp"
#include "engine/upde.hpp"
#include "types/config.hpp"
#include "types/error.hpp"

namespace qel::sparse_upde {

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
                        std::span<const double> knm_values, std::span<const double> alpha_values,
                        bool all_alpha_zero, std::span<double> out, double zeta, double psi);

struct SparseUPDEStepper {
    // The dense stepper's record: settings, scratch, plasticity, modulator, last_dt.
    upde::UPDEStepper rec;

    // "n must be > 0", then the configuration's checks; throws std::bad_alloc
    // when the scratch cannot be had.
    static QelResult<SparseUPDEStepper> create(std::size_t n, const IntegrationConfig& config);

    // One step: checks, integration, plasticity on knm_values (when set),
    // wrapping. On failure nothing has changed.
    Status step(std::span<double> phases, std::span<const double> omegas, const Csr& csr, double zeta,
                double psi);

    void euler_step(std::span<double> phases, double h, std::span<const double> omegas, const Csr& csr,
                    bool all_alpha_zero, double zeta, double psi);
    void rk4_step(std::span<double> phases, double h, std::span<const double> omegas, const Csr& csr,
                  bool all_alpha_zero, double zeta, double psi);
    void rk45_step(std::span<double> phases, std::span<const double> omegas, const Csr& csr, bool all_alpha_zero,
                   double zeta, double psi);

    Status set_plasticity(double lr, double decay, double modulator) {
        return rec.set_plasticity(lr, decay, modulator);
    }
    // The modulator stays as it was.
    void disable_plasticity() { rec.plasticity.reset(); }

    // R and psi of the phases behind sin_theta and cos_theta: those of the
    // last derivative evaluation of the last successful step; (0, 0) before.
    order_params::OrderParameter order_parameter() const;
};

}  // namespace qel::sparse_upde
