// What every phase stepper shares: the validated configuration, last_dt,
// the integrators' scratch and the stepper's own named scratch views cut from
// one zero-filled block, one advance() over the stepper's derivative, the
// first input check, and the loop of a run.
//
// A stepper owns a StepperCore, binds its right-hand side f(y, out) (see
// integrators.hpp) to the call's inputs and its own views, and calls
// advance(f, y). A stepper with its own adaptive controller calls substeps()
// for Euler and RK4 and builds its controller on integrators::dopri_stages
// with dopri_buffers().
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <span>

#include "engine/util/checked.hpp"
#include "engine/util/integrators.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/scratch.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/format.hpp"

namespace qel {

// One of the stepper's own scratch views and its length.
struct ScratchView {
    std::span<double>* view;
    std::size_t len;
};

class StepperCore {
public:
    // Validates config (its InvalidConfig, nothing allocated), then allocates
    // the integrators' buffers of state_len values and the stepper's own views,
    // all zero-filled in one block. Throws std::bad_alloc when the block cannot
    // be had or its size does not fit. Steppers call it through kit::construct.
    Status init(const IntegrationConfig& config, std::size_t state_len, std::span<const ScratchView> own) {
        if (Status st = config.validate(); !st) return st;
        std::size_t total = 0;
        auto grow = [&](std::size_t count, std::size_t len) {
            auto add = checked_mul(count, len);
            auto sum = add ? checked_add(total, *add) : std::nullopt;
            if (!sum) throw std::bad_alloc();
            total = *sum;
        };
        grow(kBuffers, state_len);
        for (const ScratchView& v : own) grow(1, v.len);
        block_ = ScratchBlock(total, "stepper scratch");
        double* p = block_.data();
        for (std::span<double>* v : {&deriv_, &k1_, &k2_, &k3_, &k4_, &k5_, &k6_, &k7_, &stage_, &y5_}) {
            *v = std::span<double>(p, state_len);
            p += state_len;
        }
        for (const ScratchView& v : own) {
            *v.view = std::span<double>(p, v.len);
            p += v.len;
        }
        config_ = config;
        last_dt_ = config.dt;
        return {};
    }

    const IntegrationConfig& config() const { return config_; }
    // The size of the next adaptive step: dt until an adaptive step sets it.
    double last_dt() const { return last_dt_; }
    void set_last_dt(double h) { last_dt_ = h; }

    // One step of the configured method: n_substeps Euler or RK4 substeps of
    // dt / n_substeps, or one adaptive Dormand-Prince step from last_dt
    // (integrators::dopri_adaptive_step). Cannot fail.
    // `scaling` is how the model forms the second Dormand-Prince stage.
    template <class F>
    void advance(F&& f, std::span<double> y, integrators::StageScaling scaling = integrators::StageScaling::StepFirst) {
        if (config_.method == IntegrationMethod::RK45)
            integrators::dopri_adaptive_step(f, y, last_dt_, config_.dt, config_.atol, config_.rtol, dopri_buffers(),
                                             scaling);
        else
            substeps(f, y);
    }

    // Euler or RK4 substeps only; RK45 is the caller's own controller.
    template <class F>
    void substeps(F&& f, std::span<double> y) {
        const double h = config_.dt / static_cast<double>(config_.n_substeps);
        if (config_.method == IntegrationMethod::Euler) {
            for (std::uint32_t s = 0; s < config_.n_substeps; ++s) integrators::euler_substep(f, y, deriv_, h);
        } else {
            const integrators::Rk4Buffers b = rk4_buffers();
            for (std::uint32_t s = 0; s < config_.n_substeps; ++s) integrators::rk4_substep(f, y, b, h);
        }
    }

    integrators::Rk4Buffers rk4_buffers() const { return {k1_, k2_, k3_, k4_, stage_}; }
    integrators::DopriBuffers dopri_buffers() const { return {k1_, k2_, k3_, k4_, k5_, k6_, k7_, stage_, y5_}; }

private:
    static constexpr std::size_t kBuffers = 10;
    IntegrationConfig config_;
    double last_dt_ = 0.0;
    ScratchBlock block_;
    std::span<double> deriv_, k1_, k2_, k3_, k4_, k5_, k6_, k7_, stage_, y5_;
};

// The two texts of the length check, each fixed by the steppers that use it:
// "expected {n}, got phases={p} omegas={o}" (the UPDE family) and "expected
// phases and omegas length {n}, got {p}/{o}" (the extended steppers).
enum class LengthText { Upde, Extended };

// The first check of the phase steppers: phases and omegas both hold n values.
inline Status check_phase_lengths(std::size_t n, std::size_t n_phases, std::size_t n_omegas,
                                  LengthText form = LengthText::Upde) {
    if (n_phases == n && n_omegas == n) return {};
    if (form == LengthText::Extended)
        return QelError::invalid_dimension(
            text::cat("expected phases and omegas length ", n, ", got ", n_phases, "/", n_omegas));
    return QelError::invalid_dimension(text::cat("expected ", n, ", got phases=", n_phases, " omegas=", n_omegas));
}

// step(k) for k = 0 .. n_steps-1, asking between steps whether the caller
// wants to stop. The first failing step, or an interrupt, ends the run with
// its error; what the steps before it did stays done, as for any failing run.
template <class Step>
Status run_steps(std::uint64_t n_steps, Step&& step) {
    for (std::uint64_t k = 0; k < n_steps; ++k) {
        if (k != 0 && interrupted()) return interrupted_error<QelError>();
        if (Status st = step(k); !st) return st;
    }
    return {};
}

}  // namespace qel
