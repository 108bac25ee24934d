// Runs stop at an interrupt between steps and leave what a failing run would. The hook is the module's in real
// use; here it says yes at a set question.
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/sheaf_upde.hpp"
#include "engine/sparse_upde.hpp"
#include "engine/upde.hpp"
#include "expect.hpp"

using V = std::vector<double>;
static int g_questions = 0, g_yes_at = 0;

static bool same_bits(const V& a, const V& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}
static void ask_from_now(int yes_at) { g_questions = 0, g_yes_at = yes_at; }
template <class S>
static S made(qel::QelResult<S> r) {
    return std::move(r).value();
}

int main() {
    qel::interrupt_hook = [] { return ++g_questions >= g_yes_at; };
    using qel::IntegrationMethod;

    // Dense, adaptive, with plasticity: asked before steps 2, 3 and 4, yes at the third question.
    const qel::IntegrationConfig rk45{0.05, 1e-6, 1e-3, 1, IntegrationMethod::RK45};
    auto s = made(qel::upde::UPDEStepper::create(3, rk45)), t = made(qel::upde::UPDEStepper::create(3, rk45));
    expect(s.set_plasticity(0.3, 0.1, 1.0).ok() && t.set_plasticity(0.3, 0.1, 1.0).ok(), "plasticity set");
    V w{1.0, -0.5, 0.25}, alpha(9, 0.1), ka(9, 0.7), kb(9, 0.7), a{0.1, 2.0, 4.0}, b = a;
    ask_from_now(3);
    auto st = s.run(a, w, ka, 0.2, 0.4, alpha, 10);
    expect(!st.ok() && st.error().message == "interrupted", "dense run stops with the interrupt error");
    for (int k = 0; k < 3; ++k) expect(t.step(b, w, kb, 0.2, 0.4, alpha).ok(), "reference step");
    expect(same_bits(a, b) && same_bits(ka, kb) && s.last_dt() == t.last_dt(), "dense run keeps three steps");

    const qel::IntegrationConfig euler{0.05, 1e-6, 1e-3, 1, IntegrationMethod::Euler};
    auto sp = made(qel::sparse_upde::SparseUPDEStepper::create(2, euler));
    std::vector<std::size_t> row_ptr{0, 1, 2}, cols{1, 0};
    V k2{0.5, 0.5}, lags{0.0, 0.0}, p2{0.1, 0.2}, w2{1.0, 1.0};
    ask_from_now(1);
    expect(!sp.run(p2, w2, {row_ptr, cols, k2, lags}, 0.0, 0.0, 5).ok() && g_questions == 1, "sparse run stops");
    auto sh = made(qel::sheaf_upde::SheafUPDEStepper::create(1, 1, euler));
    V y1{0.1}, w1{1.0}, m1{0.0}, psi{0.0};
    ask_from_now(1);
    expect(sh.run(y1, w1, m1, psi, 0.0, 1).ok() && g_questions == 0, "a run of one step asks nothing");

    // Tolerances this tight need many adaptive trials within one sheaf step; it asks between them.
    const qel::IntegrationConfig tight{1.0, 1e-13, 1e-13, 1, IntegrationMethod::RK45};
    auto sh2 = made(qel::sheaf_upde::SheafUPDEStepper::create(2, 1, tight));
    V y{0.1, 2.0}, before = y, wy{1.0, -2.0}, maps{0.0, 3.0, 3.0, 0.0};
    ask_from_now(2);
    st = sh2.step(y, wy, maps, psi, 0.0);
    expect(!st.ok() && st.error().message == "interrupted", "sheaf adaptive step stops between trials");
    expect(same_bits(y, before) && sh2.last_dt() == 1.0, "sheaf adaptive step puts phases and last_dt back");

    auto e = qel::QelError::invalid_config(std::string("a\"b\\c\n\0d", 8));
    expect(e.debug() == "InvalidConfig(\"a\\\"b\\\\c\\n\\0d\")", "debug form of an error");
    return failures();
}
