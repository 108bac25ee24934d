// The sheaf UPDE: n oscillators, each a vector of d angles, coupled through
// d x d restriction maps stored as n x n contiguous blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/util/stepper_core.hpp"
#include "types/config.hpp"
#include "types/error.hpp"

namespace qel::sheaf_upde {

class SheafUPDEStepper {
public:
    // Refuses n or d of 0, an invalid configuration, and sizes whose n*d or
    // (n*d)^2 do not fit a 64-bit count. Throws std::bad_alloc when the
    // scratch space cannot be had.
    static QelResult<SheafUPDEStepper> create(std::size_t n, std::size_t d, const IntegrationConfig& config);

    // Advances n*d phases in place by dt and wraps them. On failure the
    // phases and last_dt are as they were.
    Status step(std::span<double> phases, std::span<const double> omegas, std::span<const double> maps,
                std::span<const double> psi, double zeta);
    // n_steps steps; the first failure (or an interrupt) ends the run.
    Status run(std::span<double> phases, std::span<const double> omegas, std::span<const double> maps,
               std::span<const double> psi, double zeta, std::uint64_t n_steps);

    std::size_t n() const { return n_; }
    std::size_t d() const { return d_; }
    double last_dt() const { return core_.last_dt(); }

private:
    SheafUPDEStepper() = default;

    // Covers dt in as many accepted Dormand-Prince trials as the tolerances need.
    template <class F>
    Status rk45(F& f, std::span<double> y);

    std::size_t n_ = 0, d_ = 0, nd_ = 0;
    StepperCore core_;
    // n*d each: sines and cosines of the last evaluated state, and the phases
    // on entry of an adaptive step (put back if it fails); d each: the drive.
    std::span<double> sin_theta_, cos_theta_, y_entry_, sin_psi_, cos_psi_;
};

// Right-hand side at state (n*d angles) into out, refilling sin_theta and
// cos_theta from the state. One work item per oscillator on the pool.
void compute_derivative(std::size_t n, std::size_t d, std::span<const double> state, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas, std::span<const double> maps,
                        std::span<const double> sin_psi, std::span<const double> cos_psi, std::span<double> out,
                        double zeta);

}  // namespace qel::sheaf_upde
