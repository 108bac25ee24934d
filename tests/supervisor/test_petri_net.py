import inspect
import math
import random

import pytest

import qel_kernel as qk
from reference import petri_net as ref

MAX = 2**32 - 1


def net_with_guard(guard, name="t"):
    return qk.PyPetriNet(["p"], [(name, [], [("p", 1)], guard)])


def guard_error(guard):
    with pytest.raises(ValueError) as info:
        net_with_guard(guard)
    msg = str(info.value)
    assert msg.startswith("guard parse error: ")
    return msg[len("guard parse error: "):]


def guard_fires(guard, ctx):
    return net_with_guard(guard).enabled({}, ctx) == ["t"]


# --- guard grammar ---------------------------------------------------------


@pytest.mark.parametrize(
    "guard",
    ["R > 0.5", "  R\t>\n0.5  ", "R\u3000>\u00a0\u20000.5\u2029", "R  >   0.5"],
)
def test_guard_tokens_split_on_unicode_white_space(guard):
    assert guard_fires(guard, {"R": 0.6})
    assert not guard_fires(guard, {"R": 0.5})


@pytest.mark.parametrize(
    "guard, shown",
    [
        ("R>0.5", '"R>0.5"'),
        ("R > 0.5 extra", '"R > 0.5 extra"'),
        ("", '""'),
        ("   ", '"   "'),
        ("R\u200b> 0.5", '"R\\u{200b}> 0.5"'),  # zero-width space is no separator
        ("R >", '"R >"'),
    ],
)
def test_guard_token_count(guard, shown):
    assert guard_error(guard) == "guard must be 'metric op threshold', got " + shown


@pytest.mark.parametrize("op", ["=>", "=", "!=", "<>", "gt", "\u2265", "=<"])
def test_guard_unknown_operator(op):
    assert guard_error(f"R {op} 0.5") == f'unknown guard operator: "{op}"'
    # The operator is reported before a bad number.
    assert guard_error(f"R {op} zz") == f'unknown guard operator: "{op}"'


@pytest.mark.parametrize(
    "token",
    ["x", "0x10", "1e", "1e+", ".", "+", "1.2.3", "--1", "1_000", "1,5", "infinit", "nan(1)", "١", "1e5.0", "e5",
     "+-1", "in", "0.5f", "1d3", "\u0661"],
)
def test_guard_invalid_threshold(token):
    assert guard_error(f"R > {token}") == "invalid threshold: invalid float literal"


@pytest.mark.parametrize(
    "token, shown",
    [
        ("inf", "inf"),
        ("+Infinity", "inf"),
        ("-INF", "-inf"),
        ("-iNfInItY", "-inf"),
        ("nan", "NaN"),
        ("-NaN", "NaN"),
        ("1e400", "inf"),
        ("-1e400", "-inf"),
        ("1.7976931348623159e308", "inf"),
        ("1" + "0" * 400, "inf"),
        ("0.000001e999999999999999999999", "inf"),
    ],
)
def test_guard_non_finite_threshold(token, shown):
    assert guard_error(f"R > {token}") == "guard threshold must be finite, got " + shown


@pytest.mark.parametrize(
    "token, value",
    [
        ("1e-400", 0.0),
        ("-1e-400", -0.0),
        ("4.9406564584124654e-324", 5e-324),
        ("2.4703282292062328e-324", 5e-324),
        ("2.4703282292062327e-324", 0.0),
        ("1.7976931348623157e308", 1.7976931348623157e308),
        ("0e99999999999999999999", 0.0),
        ("5.", 5.0),
        (".5", 0.5),
        ("+.5E+1", 5.0),
        ("000123.4500e-2", 1.2345),
        ("0." + "0" * 500 + "1e501", 1.0),
    ],
)
def test_guard_threshold_values(token, value):
    net = qk.PyPetriNet(["p"], [("lt", [], [], f"x < {token}"), ("ge", [], [], f"x >= {token}")])
    # The threshold is exactly the value: it passes >= and its predecessor passes <.
    assert net.enabled({}, {"x": value}) == ["ge"]
    if value != 0.0:
        assert net.enabled({}, {"x": math.nextafter(value, -math.inf)}) == ["lt"]


@pytest.mark.parametrize("seed", range(4))
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


# --- guard evaluation --------------------------------------------------------


@pytest.mark.parametrize(
    "guard, ctx, holds",
    [
        ("R > 0.5", {}, False),
        ("R > 0.5", {"r": 0.9}, False),
        ("R > 0.5", {"R": float("nan")}, False),
        ("R > 0.5", {"R": float("inf")}, False),
        ("R < 0.5", {"R": float("-inf")}, False),
        ("R > 0.5", {"R": 0.5}, False),
        ("R > 0.5", {"R": 0.5000001}, True),
        ("R >= 0.5", {"R": 0.5}, True),
        ("R < 0.5", {"R": 0.4}, True),
        ("R <= -0", {"R": 0.0}, True),
        ("R == 1.0", {"R": 1.0 + 1e-13}, True),
        ("R == 1.0", {"R": 1.0 + 1e-11}, False),
        ("R == 3", {"R": 3}, True),
        ("Müß > 0", {"Müß": 1.0}, True),
        ("Müß > 0", {"MÜSS": 1.0}, False),
    ],
)
def test_guard_evaluation(guard, ctx, holds):
    assert guard_fires(guard, ctx) is holds


# --- construction order ------------------------------------------------------


@pytest.mark.parametrize(
    "places, transitions, message",
    [
        ([], [], None),
        (["a", "a", " "], [("t", [], [], None), ("t", [], [], None)], None),
        ([], [("t", [("p", 1)], [], None)], 'transition "t" references unknown place "p"'),
        (["p"], [("t", [("q", 0)], [], None)], 'transition "t" has zero-weight arc for place "q"'),
        (["p"], [("t", [("p", 1)], [("p", 0)], None)], 'transition "t" has zero-weight arc for place "p"'),
        (["p"], [("t", [], [("x", 1)], None), ("", [], [], None)], 'transition "t" references unknown place "x"'),
        (["p"], [("t", [], [("x", 0)], None), ("u", [("y", 1)], [], None)],
         'transition "t" has zero-weight arc for place "x"'),
        (["p"], [("t", [("x", 1)], [("p", 0)], None)], 'transition "t" references unknown place "x"'),
        (["", "p"], [("", [], [], None)], "place names must not be empty"),
        (["p"], [("", [("zz", 0)], [], None)], "transition names must not be empty"),
        (["", "p"], [("t", [], [], None), ("u", [], [], "R >")], "guard parse error: guard must be 'metric op threshold', got \"R >\""),
        (["P"], [("t", [("p", 1)], [], None)], 'transition "t" references unknown place "p"'),
        (["p"], [("t\t", [(" p", 1)], [], None)], 'transition "t\\t" references unknown place " p"'),
    ],
)
def test_construction_checks_in_order(places, transitions, message):
    if message is None:
        net = qk.PyPetriNet(places, transitions)
        assert net.place_names == places
        assert net.transition_names == [t[0] for t in transitions]
        return
    with pytest.raises(ValueError) as info:
        qk.PyPetriNet(places, transitions)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "places, transitions, exc",
    [
        ("ab", [], TypeError),
        (["a", 1], [], TypeError),
        (["a"], [["t", [], [], None]], TypeError),
        (["a"], [("t", [], [])], ValueError),
        (["a"], [("t", [["a", 1]], [], None)], TypeError),
        (["a"], [("t", [("a", -1)], [], None)], OverflowError),
        (["a"], [("t", [("a", 2**32)], [], None)], OverflowError),
        (["a"], [("t", [], [], 5)], TypeError),
        # Conversion of every item comes before any guard is parsed.
        ([""], [("t", [], [], "bad"), ("u", [("a", 1.5)], [], None)], TypeError),
    ],
)
def test_constructor_conversion_errors(places, transitions, exc):
    with pytest.raises(exc) as info:
        qk.PyPetriNet(places, transitions)
    name = "places" if not isinstance(places, list) or not all(isinstance(p, str) for p in places) else "transitions"
    assert info.value.__notes__ == [f"while processing '{name}'"]


# --- firing ------------------------------------------------------------------


def test_empty_tokens_fire_source_transition():
    net = qk.PyPetriNet(["a", "b"], [("src", [], [("b", 2), ("a", 1), ("b", 3)], None)])
    tokens, fired = net.step({}, {})
    assert fired == "src"
    assert tokens == {"a": 1, "b": 5}
    assert list(tokens) == ["a", "b"]


def test_net_without_transitions():
    net = qk.PyPetriNet(["b", "a"], [])
    assert net.enabled({"a": 1}, {}) == []
    tokens, fired = net.step({"a": 3, "zz": 4, "b": 0, "c": 1}, {})
    assert fired is None
    assert tokens == {"a": 3}


def test_undeclared_and_zero_counts():
    net = qk.PyPetriNet(["a", "b"], [("t", [("a", 1)], [("b", 1)], None)])
    assert sorted(net.active_places({"a": 1, "zz": 2, "b": 0})) == ["a", "zz"]
    tokens, fired = net.step({"zz": 2, "b": 1}, {})
    assert (tokens, fired) == ({"b": 1}, None)
    tokens, fired = net.step({"zz": 2, "a": 1}, {})
    assert (tokens, fired) == ({"b": 1}, "t")


def test_repeated_input_arcs_are_tested_one_by_one_and_floor_at_zero():
    net = qk.PyPetriNet(["p", "q"], [("t", [("p", 1), ("p", 1)], [("q", 1)], None)])
    assert net.enabled({"p": 1}, {}) == ["t"]
    assert net.step({"p": 1}, {}) == ({"q": 1}, "t")
    assert net.step({"p": 3}, {}) == ({"p": 1, "q": 1}, "t")


def test_self_loop_and_cap():
    net = qk.PyPetriNet(["p", "q"], [("loop", [("p", 2)], [("p", 2), ("q", 5)], None)])
    assert net.step({"p": 2, "q": MAX - 1}, {}) == ({"p": 2, "q": MAX}, "loop")
    assert net.step({"p": 1}, {}) == ({"p": 1}, None)
    net = qk.PyPetriNet(["p"], [("t", [], [("p", MAX), ("p", MAX)], None)])
    assert net.step({"p": MAX}, {}) == ({"p": MAX}, "t")


def test_guard_and_priority():
    net = qk.PyPetriNet(
        ["a", "b", "c"],
        [
            ("guarded", [("a", 1)], [("b", 1)], "R > 0.5"),
            ("same", [("a", 1)], [("c", 1)], None),
            ("same", [], [("c", 1)], None),
        ],
    )
    assert net.enabled({"a": 1}, {}) == ["same", "same"]
    assert net.step({"a": 1}, {}) == ({"c": 1}, "same")
    assert net.step({"a": 1}, {"R": 0.9}) == ({"b": 1}, "guarded")
    assert net.enabled({"a": 1}, {"R": 1}) == ["guarded", "same", "same"]
    assert net.enabled({}, {"R": 1}) == ["same"]


def test_result_follows_declaration_order_and_duplicate_places():
    net = qk.PyPetriNet(["c", "a", "c", "b"], [])
    tokens, _ = net.step({"b": 1, "a": 2, "c": 3}, {})
    assert list(tokens.items()) == [("c", 3), ("a", 2), ("b", 1)]
    assert net.place_names == ["c", "a", "c", "b"]
    assert net.place_names is not net.place_names


@pytest.mark.parametrize(
    "tokens, ctx, exc, name",
    [
        ({"a": -1}, {}, OverflowError, "tokens"),
        ({"a": 2**32}, {}, OverflowError, "tokens"),
        ({1: 1}, {}, TypeError, "tokens"),
        ([("a", 1)], {}, TypeError, "tokens"),
        ({"a": 1.0}, {}, TypeError, "tokens"),
        ({"a": -1}, {"R": "x"}, OverflowError, "tokens"),
        ({"a": 1}, {"R": "x"}, TypeError, "ctx"),
        ({"a": 1}, {2: 1.0}, TypeError, "ctx"),
    ],
)
def test_call_conversion_errors(tokens, ctx, exc, name):
    net = qk.PyPetriNet(["a"], [])
    for call in (lambda: net.step(tokens, ctx), lambda: net.enabled(tokens, ctx)):
        with pytest.raises(exc) as info:
            call()
        assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize("seed", range(6))
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


def test_signatures_and_docs():
    assert str(inspect.signature(qk.PyPetriNet)) == "(places, transitions)"
    assert qk.PyPetriNet.step.__doc__ == "Step: fire first enabled transition. Returns (tokens_dict, fired_name_or_none)."
    assert qk.PyPetriNet.enabled.__doc__ == "Return names of all enabled transitions."
    assert str(inspect.signature(qk.PyPetriNet.active_places)) == "(self, /, tokens)"
    with pytest.raises(AttributeError):
        qk.PyPetriNet([], []).place_names = []
