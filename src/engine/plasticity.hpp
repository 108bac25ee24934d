// Coupling plasticity: after each step every coupling decays and grows by a
// Hebbian term in cos(theta_i - theta_j), never below zero; self-couplings are
// cleared. The phases arrive as the stepper's sine and cosine buffers.
#pragma once
#include <cstddef>
#include <optional>
#include <span>

#include "types/error.hpp"

namespace qel::plasticity {

struct PlasticityModel {
    double lr = 0.0;     // learning rate, finite and >= 0
    double decay = 0.0;  // decay rate per unit time, finite and >= 0

    // Dense n x n row-major knm, n = sin_theta.size(). Unusable input (a
    // length that does not fit, negative or non-finite dt, non-finite
    // modulator or values) leaves knm exactly as it was, silently.
    static void update(std::span<const double> sin_theta, std::span<const double> cos_theta, std::span<double> knm,
                       double lr, double decay, double modulator, double dt);

    // The same rule on compressed rows: row i owns values[row_ptr[i] .. row_ptr[i+1]),
    // col_indices gives each entry's column. Malformed rows are a silent no-op.
    static void update_sparse(std::span<const double> sin_theta, std::span<const double> cos_theta,
                              std::span<const std::size_t> row_ptr, std::span<const std::size_t> col_indices,
                              std::span<double> values, double lr, double decay, double modulator, double dt);
};

// A stepper's plasticity: the model once set, and the modulator on its rate.
struct PlasticitySetting {
    std::optional<PlasticityModel> model;
    double modulator = 1.0;

    // lr and decay finite and >= 0 (-0.0 passes), else InvalidConfig and
    // nothing changes. The modulator is stored unchecked.
    Status set(double lr, double decay, double modulator);
};

}  // namespace qel::plasticity
