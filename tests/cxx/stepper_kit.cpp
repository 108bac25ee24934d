// The shared pieces of the extended steppers that Python reaches only through
// many models: the three summation orders, the size cap, the construction
// order and the run functions' failure text.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/util/stepper_kit.hpp"
#include "expect.hpp"

using namespace qel;
static bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Terms whose sum depends on the order of the additions.
static double term(std::size_t j) { return (j % 3 == 0 ? 1e16 : 1.0) * (j % 2 ? -1.0 : 1.0) + 0.1 * j; }

int main() {
    for (std::size_t n : {0u, 1u, 7u, 8u, 13u, 16u, 29u}) {
        double plain = 0.0;
        for (std::size_t j = 0; j < n; ++j) plain = plain + term(j);
        double blocks = 0.0;
        std::size_t body = n - n % 8;
        for (std::size_t b = 0; b < body; b += 8) {
            double s = term(b);
            for (std::size_t m = 1; m < 8; ++m) s = s + term(b + m);
            blocks = blocks + s;
        }
        for (std::size_t j = body; j < n; ++j) blocks = blocks + term(j);
        double part[8] = {}, inter = 0.0;
        for (std::size_t j = 0; j < body; ++j) part[j % 8] = part[j % 8] + term(j);
        for (double p : part) inter = inter + p;
        for (std::size_t j = body; j < n; ++j) inter = inter + term(j);

        expect(same_bits(kit::sum_plain<double>(n, term), plain), "plain order");
        expect(same_bits(kit::sum_blocks8<double>(n, term), blocks), "blocks of eight");
        expect(same_bits(kit::sum_interleaved8<double>(n, term), inter), "interleaved partials");
    }
    expect(!same_bits(kit::sum_plain<double>(29, term), kit::sum_interleaved8<double>(29, term)),
           "the terms tell the orders apart");

    expect(kit::value_count(std::size_t{1} << 59, 2).ok() == false, "2^60 values are refused");
    expect(kit::value_count((std::size_t{1} << 60) - 1).ok(), "one below the cap passes");
    auto wrapped = kit::value_count(std::size_t{1} << 32, (std::size_t{1} << 32) + 1);
    expect(!wrapped.ok() && wrapped.error().message == "capacity overflow", "a wrapped product is refused");

    StepperCore core;
    std::span<double> cache;
    auto zero = kit::construct(core, 0, IntegrationConfig{0.0}, 2, {{&cache, 1}});
    expect(!zero.ok() && std::get<QelError>(zero.error()).message == "n must be > 0", "n checked before dt");
    auto bad_dt = kit::construct(core, 3, IntegrationConfig{0.0}, 2, {{&cache, 1}});
    expect(!bad_dt.ok() && std::get<QelError>(bad_dt.error()).kind == QelError::Kind::InvalidConfig, "dt checked");
    auto huge = kit::construct(core, std::size_t{1} << 59, IntegrationConfig{}, 2, {{&cache, 1}});
    expect(!huge.ok() && std::holds_alternative<InternalError>(huge.error()), "2N >= 2^60 is capacity overflow");
    auto fine = kit::construct(core, 3, IntegrationConfig{}, 2, {{&cache, 1}});
    expect(fine.ok() && cache.size() == 3 && cache[0] == 0.0 && cache[2] == 0.0, "views zero-filled");

    auto failure = kit::run_failure(QelError::invalid_config("dt \"x\"\\\n"));
    expect(failure.message == "stepper init failed: InvalidConfig(\"dt \\\"x\\\"\\\\\\n\")", "debug form");

    expect(kit::check_matrix_lengths(std::size_t{1} << 32, 0, 0).error().message ==
               "expected knm/alpha length 18446744073709551616 got 0/0",
           "an overflowed n*n is named and never matches");

    auto traj = kit::Trajectory::reserve(std::size_t{1} << 40, std::size_t{1} << 30);
    expect(!traj.ok(), "a trajectory past the cap is refused before any step");
    return failures();
}
