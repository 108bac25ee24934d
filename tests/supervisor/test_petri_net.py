import math
import random

import pytest

import qel_kernel as qk
from reference import petri_net as ref

MAX = 2**32 - 1


def net_with_guard(guard):
    return qk.PyPetriNet(["p"], [("t", [], [("p", 1)], guard)])


def guard_error(guard):
    with pytest.raises(ValueError) as info:
        net_with_guard(guard)
    msg = str(info.value)
    assert msg.startswith("guard parse error: ")
    return msg[len("guard parse error: "):]


def guard_fires(guard, ctx):
    return net_with_guard(guard).enabled({}, ctx) == ["t"]


@pytest.mark.parametrize("guard, message", [
    *[(g, "guard must be 'metric op threshold', got " + shown) for g, shown in [
        ("R > 0.5 extra", '"R > 0.5 extra"'),
        ("R\u200b> 0.5", '"R\\u{200b}> 0.5"'),  # zero-width space is no separator
    ]],
    # The operator is reported before a bad number.
    *[(f"R {op} zz", f'unknown guard operator: "{op}"') for op in ["=>", "\u2265"]],
    # Tokens a library parser (C, locale or Python) would take, and half-formed numbers.
    *[(f"R > {t}", "invalid threshold: invalid float literal") for t in [
        "0x10", "1e+", ".", "1_000", "1,5", "infinit", "nan(1)", "\u0661",
    ]],
    *[(f"R > {t}", "guard threshold must be finite, got " + shown) for t, shown in [
        ("-iNfInItY", "-inf"), ("-NaN", "NaN"), ("1.7976931348623159e308", "inf"),
        ("0.000001e999999999999999999999", "inf"),
    ]],
])
def test_guard_parse_errors(guard, message):
    assert guard_error(guard) == message


@pytest.mark.parametrize("token, value", [
    ("2.4703282292062328e-324", 5e-324), ("2.4703282292062327e-324", 0.0),
    ("0e99999999999999999999", 0.0), ("+.5E+1", 5.0), ("0." + "0" * 500 + "1e501", 1.0),
])
def test_guard_threshold_values(token, value):
    net = qk.PyPetriNet(["p"], [("lt", [], [], f"x < {token}"), ("ge", [], [], f"x >= {token}")])
    # The threshold is exactly the value: it passes >= and its predecessor passes <.
    assert net.enabled({}, {"x": value}) == ["ge"]
    if value != 0.0:
        assert net.enabled({}, {"x": math.nextafter(value, -math.inf)}) == ["lt"]


@pytest.mark.parametrize("seed", range(2))
def test_guard_thresholds_round_like_python(seed):
    rng = random.Random(seed)
    for _ in range(150):
        mant = str(rng.randrange(10 ** rng.randrange(1, 25)))
        point = rng.randrange(len(mant) + 1)
        token = mant[:point] + "." + mant[point:] if rng.random() < 0.7 else mant
        if rng.random() < 0.6:
            token += rng.choice("eE") + rng.choice(["", "+", "-"]) + str(rng.randrange(0, 330))
        token = rng.choice(["", "+", "-"]) + token
        if token.lstrip("+-").startswith("."):
            token = token.replace(".", "0.", 1)
        expected = float(token)
        if not math.isfinite(expected):
            continue
        net = qk.PyPetriNet(["p"], [("ge", [], [], f"x >= {token}")])
        assert net.enabled({}, {"x": expected}) == ["ge"], token
        below = math.nextafter(expected, -math.inf)
        if math.isfinite(below):
            assert net.enabled({}, {"x": below}) == [], token


@pytest.mark.parametrize("guard, ctx, holds", [
    ("R\u3000>\u00a0\u20000.5\u2029", {"R": 0.6}, True),  # split at Unicode White_Space
    ("R > 0.5", {}, False), ("R > 0.5", {"R": float("nan")}, False), ("R < 0.5", {"R": float("-inf")}, False),
    ("R > 0.5", {"R": 0.5}, False), ("R >= 0.5", {"R": 0.5}, True),
    ("R == 1.0", {"R": 1.0 + 1e-13}, True), ("R == 1.0", {"R": 1.0 + 1e-11}, False),
    ("Müß > 0", {"Müß": 1.0}, True), ("Müß > 0", {"MÜSS": 1.0}, False),
])
def test_guard_evaluation(guard, ctx, holds):
    assert guard_fires(guard, ctx) is holds


@pytest.mark.parametrize("places, transitions, message", [
    ([], [], None),
    (["a", "a", " "], [("t", [], [], None), ("t", [], [], None)], None),
    ([], [("t", [("p", 1)], [], None)], 'transition "t" references unknown place "p"'),
    (["p"], [("t", [("q", 0)], [], None)], 'transition "t" has zero-weight arc for place "q"'),
    (["p"], [("t", [], [("x", 0)], None), ("u", [("y", 1)], [], None)],
     'transition "t" has zero-weight arc for place "x"'),
    (["", "p"], [("", [], [], None)], "place names must not be empty"),
    (["p"], [("", [("zz", 0)], [], None)], "transition names must not be empty"),
    (["", "p"], [("t", [], [], None), ("u", [], [], "R >")],
     "guard parse error: guard must be 'metric op threshold', got \"R >\""),
    (["p"], [("t\t", [(" p", 1)], [], None)], 'transition "t\\t" references unknown place " p"'),
])
def test_construction_checks_in_order(places, transitions, message):
    if message is None:
        net = qk.PyPetriNet(places, transitions)
        assert (net.place_names, net.transition_names) == (places, [t[0] for t in transitions])
        return
    with pytest.raises(ValueError) as info:
        qk.PyPetriNet(places, transitions)
    assert str(info.value) == message


def test_result_follows_declaration_order():
    net = qk.PyPetriNet(["a", "b"], [("src", [], [("b", 2), ("a", 1), ("b", 3)], None)])
    tokens, fired = net.step({}, {})
    assert fired == "src" and list(tokens.items()) == [("a", 1), ("b", 5)]
    net = qk.PyPetriNet(["c", "a", "c", "b"], [])
    assert net.enabled({"a": 1}, {}) == []
    tokens, fired = net.step({"b": 1, "a": 2, "zz": 4, "d": 0, "c": 3}, {})
    assert fired is None and list(tokens.items()) == [("c", 3), ("a", 2), ("b", 1)]


def test_undeclared_and_zero_counts():
    net = qk.PyPetriNet(["a", "b"], [("t", [("a", 1)], [("b", 1)], None)])
    assert sorted(net.active_places({"a": 1, "zz": 2, "b": 0})) == ["a", "zz"]
    assert net.step({"zz": 2, "b": 1}, {}) == ({"b": 1}, None)
    assert net.step({"zz": 2, "a": 1}, {}) == ({"b": 1}, "t")


def test_arcs_one_by_one_floor_and_cap():
    net = qk.PyPetriNet(["p", "q"], [("t", [("p", 1), ("p", 1)], [("q", 1)], None)])
    assert net.enabled({"p": 1}, {}) == ["t"]
    assert net.step({"p": 1}, {}) == ({"q": 1}, "t")
    assert net.step({"p": 3}, {}) == ({"p": 1, "q": 1}, "t")
    net = qk.PyPetriNet(["p", "q"], [("loop", [("p", 2)], [("p", 2), ("q", 5)], None)])
    assert net.step({"p": 2, "q": MAX - 1}, {}) == ({"p": 2, "q": MAX}, "loop")
    assert net.step({"p": 1}, {}) == ({"p": 1}, None)
    net = qk.PyPetriNet(["p"], [("t", [], [("p", MAX), ("p", MAX)], None)])
    assert net.step({"p": MAX}, {}) == ({"p": MAX}, "t")


@pytest.mark.parametrize("tokens, ctx", [({"a": 2**32}, {}), ({"a": -1}, {"R": "x"})])
def test_counts_out_of_range_are_refused_before_ctx(tokens, ctx):
    net = qk.PyPetriNet(["a"], [])
    for call in (lambda: net.step(tokens, ctx), lambda: net.enabled(tokens, ctx)):
        with pytest.raises(OverflowError) as info:
            call()
        assert info.value.__notes__ == ["while processing 'tokens'"]


# Guards (absent metrics included), priority by declaration order, shared transition names.
@pytest.mark.parametrize("seed", range(4))
def test_random_runs_match_reference(seed):
    rng = random.Random(seed)
    places = [f"p{i}" for i in range(rng.randrange(1, 6))]
    metrics = ["R", "S"]
    transitions = []
    for k in range(rng.randrange(1, 7)):
        arcs = lambda: [(rng.choice(places), rng.randrange(1, 3)) for _ in range(rng.randrange(0, 3))]
        guard = None
        if rng.random() < 0.4:
            guard = f"{rng.choice(metrics)} {rng.choice(list(ref.OPS))} {rng.choice(['0.3', '0.5', '0.7'])}"
        transitions.append((f"t{k % 3}", arcs(), arcs(), guard))
    net = qk.PyPetriNet(places, transitions)
    tokens = {p: rng.randrange(0, 3) for p in places}
    for _ in range(25):
        ctx = {m: rng.choice([0.3, 0.5, 0.7, 0.9]) for m in metrics if rng.random() < 0.8}
        assert net.enabled(tokens, ctx) == ref.enabled(transitions, tokens, ctx)
        got = net.step(tokens, ctx)
        assert got == ref.step(places, transitions, tokens, ctx)
        tokens = got[0]

