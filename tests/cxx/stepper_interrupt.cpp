// Runs stop at an interrupt between steps, and leave what a failing run would.
// The hook is the module's in real use; here it says yes after a set number of
// questions.
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/sheaf_upde.hpp"
#include "engine/sparse_upde.hpp"
#include "engine/upde.hpp"

namespace {

int g_failures = 0;
int g_questions = 0;
int g_answer_yes_at = 0;

bool hook() { return ++g_questions >= g_answer_yes_at; }

void expect(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++g_failures;
    }
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

template <class S>
S made(qel::QelResult<S> r) {
    if (!r.ok()) throw 1;
    return std::move(r).value();
}

void dense_run_stops_between_steps() {
    using qel::upde::UPDEStepper;
    const qel::IntegrationConfig cfg{0.05, 1e-6, 1e-3, 1, qel::IntegrationMethod::RK45};
    std::vector<double> omegas{1.0, -0.5, 0.25}, alpha(9, 0.1), knm_a(9, 0.7), knm_b(9, 0.7);
    std::vector<double> a{0.1, 2.0, 4.0}, b = a;
    auto s = made(UPDEStepper::create(3, cfg)), t = made(UPDEStepper::create(3, cfg));
    expect(s.set_plasticity(0.3, 0.1, 1.0).ok() && t.set_plasticity(0.3, 0.1, 1.0).ok(), "plasticity set");
    g_questions = 0;
    g_answer_yes_at = 3;  // asked before steps 2, 3 and 4: three steps run
    auto st = s.run(a, omegas, knm_a, 0.2, 0.4, alpha, 10);
    expect(!st.ok() && st.error().message == "interrupted", "dense run stops with the interrupt error");
    for (int k = 0; k < 3; ++k) expect(t.step(b, omegas, knm_b, 0.2, 0.4, alpha).ok(), "reference step");
    expect(same_bits(a, b) && same_bits(knm_a, knm_b), "dense run keeps exactly three steps");
    expect(s.last_dt() == t.last_dt(), "dense run keeps the adaptive step size of three steps");
}

void sparse_and_sheaf_runs_stop() {
    const qel::IntegrationConfig cfg{0.05, 1e-6, 1e-3, 1, qel::IntegrationMethod::Euler};
    auto sp = made(qel::sparse_upde::SparseUPDEStepper::create(2, cfg));
    std::vector<std::size_t> row_ptr{0, 1, 2}, cols{1, 0};
    std::vector<double> knm{0.5, 0.5}, lags{0.0, 0.0}, phases{0.1, 0.2}, omegas{1.0, 1.0};
    g_questions = 0;
    g_answer_yes_at = 1;
    auto st = sp.run(phases, omegas, {row_ptr, cols, knm, lags}, 0.0, 0.0, 5);
    expect(!st.ok() && g_questions == 1, "sparse run stops after its first step");

    auto sh = made(qel::sheaf_upde::SheafUPDEStepper::create(1, 1, cfg));
    std::vector<double> y{0.1}, w{1.0}, maps{0.0}, psi{0.0};
    g_questions = 0;
    st = sh.run(y, w, maps, psi, 0.0, 1);
    expect(st.ok() && g_questions == 0, "a run of one step asks nothing");
}

void sheaf_adaptive_step_stops_and_restores() {
    // Tolerances this tight need many trials within one step.
    const qel::IntegrationConfig cfg{1.0, 1e-13, 1e-13, 1, qel::IntegrationMethod::RK45};
    auto sh = made(qel::sheaf_upde::SheafUPDEStepper::create(2, 1, cfg));
    std::vector<double> y{0.1, 2.0}, before = y, w{1.0, -2.0}, maps{0.0, 3.0, 3.0, 0.0}, psi{0.0};
    g_questions = 0;
    g_answer_yes_at = 2;
    auto st = sh.step(y, w, maps, psi, 0.0);
    expect(!st.ok() && st.error().message == "interrupted", "sheaf adaptive step stops between trials");
    expect(same_bits(y, before) && sh.last_dt() == 1.0, "sheaf adaptive step puts phases and last_dt back");
}

void debug_form_uses_the_quoted_form() {
    auto e = qel::QelError::invalid_config(std::string("a\"b\\c\n\0d", 8));
    expect(e.debug() == "InvalidConfig(\"a\\\"b\\\\c\\n\\0d\")", "debug form of an error");
}

}  // namespace

int main() {
    qel::interrupt_hook = &hook;
    dense_run_stops_between_steps();
    sparse_and_sheaf_runs_stop();
    sheaf_adaptive_step_stops_and_restores();
    debug_form_uses_the_quoted_form();
    return g_failures;
}
