// Building, projecting and scaling dense coupling matrices (flat row-major,
// entry i*n + j couples oscillator j into oscillator i).
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::coupling {

// The builder holds no state; it exists so that the module has an object to call.
struct CouplingBuilder {};

// Toeplitz coupling exp(|i - j| * (-decay_alpha)) * base_strength off the
// diagonal, zero on it.
QelResult<std::vector<double>> build_knm(std::uint64_t n, double base_strength, double decay_alpha);

// Symmetrised, clipped at zero, zero diagonal; works on its own copy.
QelResult<std::vector<double>> project_knm(std::vector<double> knm, std::uint64_t n);

// out[k] = knm[k] * (1 - reduction_factor); out has the length of knm.
void reduce_coupling(std::span<const double> knm, double reduction_factor, std::span<double> out);

}  // namespace qel::coupling
