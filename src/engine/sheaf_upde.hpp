// The sheaf UPDE: n oscillators, each a vector of d angles, coupled through
// d x d restriction maps stored as n x n contiguous blocks.
#pragma once
#include <cstddef>
#include <span>

#include "engine/util/scratch.hpp"

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

    std::size_t n() const { return n_; }
    std::size_t d() const { return d_; }
    double last_dt() const { return last_dt_; }

private:
    SheafUPDEStepper() = default;

    struct Inputs {
        std::span<const double> omegas, maps;
        double zeta;
    };
    // The right-hand side bound to this call's inputs, for the integrators.
    auto rhs(const Inputs& in);
    void euler(std::span<double> y, double h, const Inputs& in);
    void rk4(std::span<double> y, double h, const Inputs& in);
    Status rk45(std::span<double> y, const Inputs& in);

    std::size_t n_ = 0, d_ = 0, nd_ = 0;
    IntegrationConfig config_;
    double last_dt_ = 0.0;
    // Views into one zero-filled block: eleven of n*d, the phases on entry of
    // an adaptive step (put back if it fails), and two of d.
    ScratchBlock scratch_;
    std::span<double> y_new_, k1_, k2_, k3_, k4_, k5_, k6_, k7_, err_est_, sin_theta_, cos_theta_, y_entry_;
    std::span<double> sin_psi_, cos_psi_;
};

// Right-hand side at state (n*d angles) into out, refilling sin_theta and
// cos_theta from the state. One work item per oscillator on the pool.
void compute_derivative(std::size_t n, std::size_t d, std::span<const double> state, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas,
                        std::span<const double> maps, std::span<const double> sin_psi,
                        std::span<const double> cos_psi, std::span<double> out, double zeta);

}  // namespace qel::sheaf_upde
