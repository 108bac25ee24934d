// The fixed-step and adaptive integrators shared by every phase stepper
// (engine/util/stepper_core.hpp runs them). Each integrator is generic over the
// model's right-hand side, a callable
//
//     f(std::span<const double> y, std::span<double> out)   // out = dy/dt at y
//
// that the stepper binds to its own inputs and scratch buffers. The state y is
// advanced in place; every buffer is the caller's (a step allocates nothing)
// and all buffers have y's length. The evaluation order of every sum below is
// fixed, so a model gets the same bits wherever it calls these.
//
// Where models round differently, the difference is a parameter:
// - `StageScaling` picks how the second Dormand-Prince stage scales k1.
// - `StageStates` picks whether RK4 wraps its stage states onto the circle.
// - `dopri_stages` + an error norm + a step controller make an adaptive step;
//   `dopri_adaptive_step` is the single-step controller with at most four
//   attempts and the max-norm error, steppers with another controller
//   assemble their own from `dopri_stages`.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/util/wrap.hpp"

namespace qel::integrators {

// ---------------------------------------------------------------------------
// Explicit Euler: deriv = f(y); y_i = y_i + deriv_i * h.

template <class F>
void euler_substep(F&& f, std::span<double> y, std::span<double> deriv, double h) {
    f(std::span<const double>(y), deriv);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = y[i] + deriv[i] * h;
}

// ---------------------------------------------------------------------------
// Classical fourth-order Runge-Kutta.

struct Rk4Buffers {
    std::span<double> k1, k2, k3, k4, stage;
};

// Whether the stage states and the new state stay as computed or are wrapped
// into [0, 2pi) (a model on the circle whose field reads only angles).
enum class StageStates : std::uint8_t { Plain, Wrapped };

// One substep of length h. Stages at y + (h/2) k1, y + (h/2) k2, y + h k3;
// update y + ((2 k3 + (2 k2 + k1)) + k4) * (h/6), with 2x formed as x + x.
// With StageStates::Wrapped each stage state and the new y are wrapped; the
// stages are still formed from the unwrapped y of the step's start.
// After it, the last evaluation of f was at the fourth stage y + h k3.
template <class F>
void rk4_substep(F&& f, std::span<double> y, const Rk4Buffers& b, double h, StageStates states = StageStates::Plain) {
    const std::size_t n = y.size();
    const double half = 0.5 * h;
    const double sixth = h / 6.0;
    const bool wrap = states == StageStates::Wrapped;
    auto stage = [&](std::span<const double> k, double step) {
        for (std::size_t i = 0; i < n; ++i) b.stage[i] = y[i] + step * k[i];
        if (wrap) wrap_phases(b.stage);
    };
    f(std::span<const double>(y), b.k1);
    stage(b.k1, half);
    f(std::span<const double>(b.stage), b.k2);
    stage(b.k2, half);
    f(std::span<const double>(b.stage), b.k3);
    stage(b.k3, h);
    f(std::span<const double>(b.stage), b.k4);
    for (std::size_t i = 0; i < n; ++i) {
        double k2 = b.k2[i], k3 = b.k3[i];
        y[i] = y[i] + (((k3 + k3) + ((k2 + k2) + b.k1[i])) + b.k4[i]) * sixth;
    }
    if (wrap) wrap_phases(y);
}

// ---------------------------------------------------------------------------
// Dormand-Prince 5(4), RK5(4)7M.

namespace dp {
inline constexpr double c2 = 0.2;
inline constexpr double a31 = 3.0 / 40.0, a32 = 9.0 / 40.0;
inline constexpr double a41 = 44.0 / 45.0, a42 = -56.0 / 15.0, a43 = 32.0 / 9.0;
inline constexpr double a51 = 19372.0 / 6561.0, a52 = -25360.0 / 2187.0, a53 = 64448.0 / 6561.0, a54 = -212.0 / 729.0;
inline constexpr double a61 = 9017.0 / 3168.0, a62 = -355.0 / 33.0, a63 = 46732.0 / 5247.0, a64 = 49.0 / 176.0,
                        a65 = -5103.0 / 18656.0;
// Fifth-order weights (b2 = b7 = 0).
inline constexpr double b1 = 35.0 / 384.0, b3 = 500.0 / 1113.0, b4 = 125.0 / 192.0, b5 = -2187.0 / 6784.0,
                        b6 = 11.0 / 84.0;
// Embedded fourth-order weights (bs2 = 0).
inline constexpr double bs1 = 5179.0 / 57600.0, bs3 = 7571.0 / 16695.0, bs4 = 393.0 / 640.0, bs5 = -92097.0 / 339200.0,
                        bs6 = 187.0 / 2100.0, bs7 = 1.0 / 40.0;
// Error weights: fourth-order weight minus fifth-order weight, each rounded first.
inline constexpr double e1 = bs1 - b1, e3 = bs3 - b3, e4 = bs4 - b4, e5 = bs5 - b5, e6 = bs6 - b6, e7 = bs7;
}  // namespace dp

struct DopriBuffers {
    std::span<double> k1, k2, k3, k4, k5, k6, k7, stage, y5;
};

// How stage 2 is formed from k1: k1 * (h * 0.2) + y, or (0.2 * k1) * h + y.
// Stages 3 to 6 and the solutions are always (sum of a_j k_j) * h + y, the
// sum accumulated from k1 upwards.
enum class StageScaling : std::uint8_t { StepFirst, SlopeFirst };

// One attempt of size h from y: k1..k6, y5 (fifth order), then k7 = f(y5).
// The last evaluation of f is at y5.
template <class F>
void dopri_stages(F&& f, std::span<const double> y, double h, const DopriBuffers& b,
                  StageScaling scaling = StageScaling::StepFirst) {
    using namespace dp;
    const std::size_t n = y.size();
    auto eval = [&](std::span<double> in, std::span<double> out) { f(std::span<const double>(in), out); };
    f(y, b.k1);
    if (scaling == StageScaling::StepFirst) {
        const double hc = h * c2;
        for (std::size_t i = 0; i < n; ++i) b.stage[i] = b.k1[i] * hc + y[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) b.stage[i] = (c2 * b.k1[i]) * h + y[i];
    }
    eval(b.stage, b.k2);
    for (std::size_t i = 0; i < n; ++i) {
        double s = a31 * b.k1[i];
        s = a32 * b.k2[i] + s;
        b.stage[i] = s * h + y[i];
    }
    eval(b.stage, b.k3);
    for (std::size_t i = 0; i < n; ++i) {
        double s = a41 * b.k1[i];
        s = a42 * b.k2[i] + s;
        s = a43 * b.k3[i] + s;
        b.stage[i] = s * h + y[i];
    }
    eval(b.stage, b.k4);
    for (std::size_t i = 0; i < n; ++i) {
        double s = a51 * b.k1[i];
        s = a52 * b.k2[i] + s;
        s = a53 * b.k3[i] + s;
        s = a54 * b.k4[i] + s;
        b.stage[i] = s * h + y[i];
    }
    eval(b.stage, b.k5);
    for (std::size_t i = 0; i < n; ++i) {
        double s = a61 * b.k1[i];
        s = a62 * b.k2[i] + s;
        s = a63 * b.k3[i] + s;
        s = a64 * b.k4[i] + s;
        s = a65 * b.k5[i] + s;
        b.stage[i] = s * h + y[i];
    }
    eval(b.stage, b.k6);
    for (std::size_t i = 0; i < n; ++i) {
        double s = b1 * b.k1[i];
        s = b3 * b.k3[i] + s;
        s = b4 * b.k4[i] + s;
        s = b5 * b.k5[i] + s;
        s = b6 * b.k6[i] + s;
        b.y5[i] = s * h + y[i];
    }
    eval(b.y5, b.k7);
}

// Mixed absolute/relative max norm of y5 - y4 after dopri_stages:
// max_i |y5_i - y4_i| / (atol + rtol * max(|y_i|, |y5_i|)), from 0.0, with a
// NaN operand of the inner max ignored and NaN ratios skipped.
inline double dopri_max_error(std::span<const double> y, const DopriBuffers& b, double h, double atol, double rtol) {
    using namespace dp;
    double err = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        double s = bs1 * b.k1[i];
        s = bs3 * b.k3[i] + s;
        s = bs4 * b.k4[i] + s;
        s = bs5 * b.k5[i] + s;
        s = bs6 * b.k6[i] + s;
        s = bs7 * b.k7[i] + s;
        double y4 = s * h + y[i];
        double scale = atol + rtol * std::fmax(std::fabs(y[i]), std::fabs(b.y5[i]));
        double ratio = std::fabs(b.y5[i] - y4) / scale;
        if (ratio > err) err = ratio;
    }
    return err;
}

inline constexpr int kDopriMaxAttempts = 4;

// One adaptive step: up to four attempts starting at h = last_dt, each
// evaluating k1 afresh. Accepted (err <= 1): y = y5 and
// last_dt = min(h * min(0.9 err^-0.2, 5), 10 dt) (factor 5 for err = 0).
// Rejected: h *= max(0.9 err^-0.25, 0.2); after the fourth rejection the step
// is taken anyway with that attempt's y5 and last_dt is the reduced h.
// Cannot fail; the last evaluation of f is at the adopted y5.
template <class F>
void dopri_adaptive_step(F&& f, std::span<double> y, double& last_dt, double dt, double atol, double rtol,
                         const DopriBuffers& b, StageScaling scaling = StageScaling::StepFirst) {
    double h = last_dt;
    for (int attempt = 1;; ++attempt) {
        dopri_stages(f, std::span<const double>(y), h, b, scaling);
        double err = dopri_max_error(y, b, h, atol, rtol);
        if (err <= 1.0) {
            double factor = 5.0;
            if (err != 0.0) {
                double grow = 0.9 * std::pow(err, -0.2);
                factor = grow < 5.0 ? grow : 5.0;
            }
            double next = h * factor;
            double cap = 10.0 * dt;
            last_dt = next < cap ? next : cap;
            break;
        }
        double shrink = 0.9 * std::pow(err, -0.25);
        double h_new = h * (shrink > 0.2 ? shrink : 0.2);
        if (attempt == kDopriMaxAttempts) {
            last_dt = h_new;
            break;
        }
        h = h_new;
    }
    std::copy(b.y5.begin(), b.y5.end(), y.begin());
}

}  // namespace qel::integrators
