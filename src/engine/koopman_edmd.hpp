// Extended dynamic mode decomposition with control: ridge regressions, by
// their normal equations, of the lifted targets on [lifted state | inputs]
// (operators A and B) and of the states on the lifted state (operator C).
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::koopman_edmd {

// Solves a X = b (a: p x p, b and X: p x nrhs, row-major) by Gauss-Jordan
// elimination with partial pivoting; "singular system in Koopman EDMD solve"
// when a pivot column is exactly zero.
Result<std::vector<double>, PlainError> solve_multi(std::size_t p, std::span<const double> a, std::span<const double> b,
                                                    std::size_t nrhs);

struct Operators {
    std::vector<double> a;  // n_lift x n_lift
    std::vector<double> b;  // n_lift x m
    std::vector<double> c;  // n_state x n_lift
};

// All inputs time-major (row t is sample t); checks the counts, the four
// lengths and the regularisation in that order.
Result<Operators, PlainError> edmd_solve(std::span<const double> x_lift, std::span<const double> inputs,
                                         std::span<const double> y_lift, std::span<const double> states, std::size_t k,
                                         std::size_t n_lift, std::size_t m, std::size_t n_state, double regularisation);

}  // namespace qel::koopman_edmd
