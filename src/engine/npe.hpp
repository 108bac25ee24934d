// Phases as a point cloud on the circle: pairwise circular distances, and
// the normalised persistent entropy of the cloud's merge barcode.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::npe {

// |atan2(sin(b - a), cos(b - a))|, in [0, pi].
double circular_distance(double a, double b);

// N*N distances, row-major, symmetric, zero diagonal (each pair computed
// once, from theta_j - theta_i with i < j).
Result<std::vector<double>, PlainError> phase_distance_matrix(std::span<const double> phases);

// Merges of a single-linkage clustering of the phases (Kruskal over all
// pairs by ascending distance, NaN last), up to and including max_radius;
// returns the Shannon entropy of the merge lengths divided by the log of
// the number of positive ones. 0.0 for fewer than two phases, no merges or
// a total length below 1e-15. Peak memory: 16 bytes per pair plus O(N).
Result<double, PlainError> compute_npe(std::span<const double> phases, double max_radius);

}  // namespace qel::npe
