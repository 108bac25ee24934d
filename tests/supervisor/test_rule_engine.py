import math
import random
import unicodedata

import pytest

import qel_kernel as q
from reference import rule_engine as ref

INF, NAN = math.inf, math.nan
ACT = ("K", "global", 0.05, 10.0)


def rule(name="boost", regimes=("nominal",), conds=(("R", "<", 0.5),), logic="AND", actions=(ACT,),
         cooldown=0.0, max_fires=0):
    return (name, list(regimes), list(conds), logic, list(actions), cooldown, max_fires)


def build_error(rules):
    with pytest.raises(ValueError) as e:
        q.PyRuleEngine(rules)
    return str(e.value)


@pytest.mark.parametrize("rules, message", [
    ([rule(logic="xor")], "unknown rule logic: XOR"),
    ([rule(logic=" AND")], "unknown rule logic:  AND"),
    ([rule(conds=[("R", " >", 0.5)])], "unknown op:  >"),
    # every rule is converted before any is validated
    ([rule(name=""), rule(conds=[("R", "!=", 0.5)])], "unknown op: !="),
    ([rule(conds=[])], "compound policy condition must not be empty"),
    ([rule(conds=[("a", ">", INF), ("", ">", 0.0)])], 'policy condition "a": threshold must be finite'),
    ([rule(conds=[("a", ">", 0.0), ("", ">", NAN)])], "policy condition metric must not be empty"),
    ([rule(name="", conds=[], actions=[], cooldown=-1.0)], "policy rule name must not be empty"),
    ([rule(cooldown=-1e-300, actions=[])], 'policy rule "boost": cooldown_s must be finite and >= 0'),
    ([rule(cooldown=INF)], 'policy rule "boost": cooldown_s must be finite and >= 0'),
    ([rule(actions=[ACT, ("", "", NAN, -1.0)])], 'policy rule "boost": action knob must not be empty'),
    ([rule(actions=[("K", "", NAN, -1.0)])], 'policy rule "boost": action scope must not be empty'),
    ([rule(actions=[("K", "g", INF, -1.0)])], 'policy rule "boost": action value must be finite'),
    ([rule(actions=[("K", "g", 0.0, NAN)])], 'policy rule "boost": action ttl_s must be finite and >= 0'),
    ([rule("A"), rule("B", actions=[]), rule("")], 'policy rule "B": actions must not be empty'),
])
def test_construction_messages(rules, message):
    assert build_error(rules) == message


def test_whole_argument_is_converted_before_any_op_is_looked_up():
    with pytest.raises(OverflowError) as e:
        q.PyRuleEngine(rules=[rule(conds=[("R", "=>", 0.5)]), rule(max_fires=2**32)])
    assert e.value.__notes__ == ["while processing 'rules'"]


def test_accepted_rules():
    assert q.PyRuleEngine([]).rule_names == []
    rules = [rule(logic="and"), rule(logic="Or"), rule(logic="oR"), rule(" "), rule(" "), rule(regimes=[]),
             rule(cooldown=-0.0, actions=[("K", "g", -0.0, -0.0)]), rule(regimes=["", "no such regime"])]
    e = q.PyRuleEngine(rules)
    assert e.rule_names == [r[0] for r in rules]
    assert e.clock == 0.0 and e.fire_counts == {} and e.last_fire_times == {}


def test_quoted_form_and_upper_case_match_unicode_data():
    # Characters assigned in this interpreter's Unicode version, in both planes that hold most of them; a NUL
    # inside a name is shown escaped, with the rest of the name after it.
    assert build_error([rule("\U0010ffff\x00'", cooldown=-1.0)]).startswith('policy rule "\\u{10ffff}\\0\'"')
    chars = [chr(c) for c in range(0x20000) if not 0xD800 <= c <= 0xDFFF and unicodedata.category(chr(c)) != "Cn"]
    for chunk in ("".join(chars[i:i + 2048]) for i in range(0, len(chars), 2048)):
        msg = build_error([rule(chunk, cooldown=-1.0)])
        assert msg == f"policy rule {ref.quoted(chunk)}: cooldown_s must be finite and >= 0"
        assert build_error([rule(logic=chunk)]) == "unknown rule logic: " + chunk.upper()


@pytest.mark.parametrize("declared, asked, fires", [
    ("nominal", " nominal", False), ("STRASSE", "straße", True), ("\t\u3000\n", "\t\u3000\n", False),
])
def test_regime_gate(declared, asked, fires):
    e = q.PyRuleEngine([rule(regimes=[declared])])
    assert (e.evaluate(asked, {"R": 0.1}) != []) == fires
    assert e.fire_counts == ({"boost": 1} if fires else {}) and bool(e.last_fire_times) == fires


AB = [("a", ">", 0.5), ("b", ">", 0.5)]


@pytest.mark.parametrize("conds, logic, ctx, fires", [
    ([("a", "==", 0.3)], "AND", {"a": 0.1 + 0.2}, True), ([("a", "==", 1.0)], "AND", {"a": 1.0 + 1e-11}, False),
    ([("a", ">=", 0.5)], "AND", {"a": 0.5}, True), ([("a", "<", 0.5)], "AND", {"a": -INF}, False),
    (AB, "OR", {"a": NAN, "b": 1.0}, True), (AB, "AND", {"b": 1.0}, False), (AB, "AND", {"a": 1.0, "b": 1.0}, True),
])
def test_conditions(conds, logic, ctx, fires):
    e = q.PyRuleEngine([rule(conds=conds, logic=logic)])
    assert (e.evaluate("nominal", ctx) != []) == fires


def test_cooldown_runs_on_the_engine_clock():
    e = q.PyRuleEngine([rule(cooldown=5.0)])
    ctx = {"R": 0.1}
    assert e.fire_count("boost") == 0 and e.last_fire_time("boost") is None
    assert e.evaluate("nominal", ctx) == [("K", "global", 0.05, 10.0, "boost")]
    for dt in (-1.0, NAN, INF, -INF, -0.0, -5e-324, 4.0):  # unusable amounts are ignored
        e.advance_clock(dt)
    assert e.clock == 4.0
    assert e.evaluate("nominal", ctx) == []
    e.advance_clock(1.0)
    assert e.evaluate("nominal", ctx) != []
    assert e.fire_count("boost") == 2 and e.last_fire_time("boost") == 5.0 and e.clock == 5.0


@pytest.mark.parametrize("max_fires, expected", [(2, 2), (0, 7), (2**32 - 1, 7)])
def test_fire_limit_and_reset(max_fires, expected):
    e = q.PyRuleEngine([rule(max_fires=max_fires)])
    fired = [bool(e.evaluate("nominal", {"R": 0.1})) for _ in range(7)]
    assert fired == [True] * expected + [False] * (7 - expected)
    e.advance_clock(3.0)
    e.reset()
    assert (e.clock, e.fire_counts, e.last_fire_times, e.rule_names) == (0.0, {}, {}, ["boost"])
    assert e.evaluate("nominal", {"R": 0.1}) != []


# Values outside [0, 1] are used unchecked.
@pytest.mark.parametrize("layer_rs, good, bad, extra", [
    ([0.2, 0.8], [1, 5, 0], [], None),
    ([0.2, 0.8], [], [0, 0, 2, 1], {"R": 7.0, "temp": 3.0, "R_1": 9.0}),
    ([], [0], [1], {}),
    ([1.5, -0.5, 0.25], [2, 2], [3, 0], {"stability_proxy": 1.0}),
])
def test_evaluate_state_metric_map(layer_rs, good, bad, extra):
    expected = ref.state_metrics(layer_rs, good, bad, extra)
    # One rule per key, named after it: it fires when the key holds its value, or for a key that must be absent, at all.
    absent = [k for k in ["R_good.1", "R_bad_9", "psi.7", "R.3"] if k not in expected]
    e = q.PyRuleEngine([rule(k, conds=[(k, "==", v)]) for k, v in expected.items()]
                       + [rule(k, conds=[(k, ">", -1e308)]) for k in absent])
    assert {f[4] for f in e.evaluate_state("nominal", layer_rs, good, bad, extra)} == set(expected)


def test_random_runs_match_reference():
    # Shared names (a NUL inside one), several actions per rule, cooldowns, limits and the clock.
    rng = random.Random(7)
    metrics, ops = ["a", "b", "c"], [">", ">=", "<", "<=", "=="]
    for _ in range(40):
        rules = []
        for _ in range(rng.randint(0, 8)):
            conds = [(rng.choice(metrics), rng.choice(ops), rng.choice([0.0, 0.5, 1.0]))
                     for _ in range(rng.randint(1, 3))]
            actions = [(rng.choice(["K", "boost-K"]), "g", rng.random(), 1.0) for _ in range(rng.randint(1, 2))]
            rules.append(rule(rng.choice(["p", "q", "r", "r\x00s"]),
                              rng.sample(["nominal", "Critical", "x"], rng.randint(0, 2)), conds,
                              rng.choice(["and", "OR"]), actions, rng.choice([0.0, 0.0, 0.5, 2.0]),
                              rng.choice([0, 0, 1, 3, 2**32 - 1])))
        ours, theirs = q.PyRuleEngine(rules), ref.Engine(rules)
        for _ in range(30):
            dt = rng.choice([0.0, 0.25, 1.0, -1.0, NAN, INF])
            ours.advance_clock(dt)
            theirs.advance_clock(dt)
            ctx = {m: rng.choice([0.0, 0.5, 1.0, NAN, 0.7]) for m in rng.sample(metrics, rng.randint(0, 3))}
            regime = rng.choice(["nominal", "NOMINAL", "critical", " x", "x"])
            assert ours.evaluate(regime, ctx) == theirs.evaluate(regime, ctx)
            assert ours.fire_counts == theirs.counts and ours.last_fire_times == theirs.last

