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
    ([rule(logic="straße")], "unknown rule logic: STRASSE"),
    ([rule(conds=[("R", "=>", 0.5)])], "unknown op: =>"),
    ([rule(conds=[("R", "=", 0.5)])], "unknown op: ="),
    ([rule(conds=[("R", " >", 0.5)])], "unknown op:  >"),
    ([rule(conds=[("R", "\u2265", 0.5)])], "unknown op: \u2265"),
    ([rule(conds=[("R", ">\x00x", 0.5)])], "unknown op: >\x00x"),
    ([rule(conds=[("R", "=>", 0.5)], logic="xor")], "unknown op: =>"),
    # every rule is converted before any is validated
    ([rule(name=""), rule(conds=[("R", "!=", 0.5)])], "unknown op: !="),
    ([rule(conds=[])], "compound policy condition must not be empty"),
    ([rule(conds=[("a", ">", INF), ("", ">", 0.0)])], 'policy condition "a": threshold must be finite'),
    ([rule(conds=[("a", ">", 0.0), ("", ">", NAN)])], "policy condition metric must not be empty"),
    ([rule(conds=[('say "hi"', ">", NAN)])], 'policy condition "say \\"hi\\"": threshold must be finite'),
    ([rule(name="", conds=[], actions=[], cooldown=-1.0)], "policy rule name must not be empty"),
    ([rule(cooldown=-1e-300, actions=[])], 'policy rule "boost": cooldown_s must be finite and >= 0'),
    ([rule(cooldown=NAN)], 'policy rule "boost": cooldown_s must be finite and >= 0'),
    ([rule(cooldown=INF)], 'policy rule "boost": cooldown_s must be finite and >= 0'),
    ([rule(actions=[])], 'policy rule "boost": actions must not be empty'),
    ([rule(actions=[ACT, ("", "", NAN, -1.0)])], 'policy rule "boost": action knob must not be empty'),
    ([rule(actions=[("K", "", NAN, -1.0)])], 'policy rule "boost": action scope must not be empty'),
    ([rule(actions=[("K", "g", INF, -1.0)])], 'policy rule "boost": action value must be finite'),
    ([rule(actions=[("K", "g", 0.0, -1e-300)])], 'policy rule "boost": action ttl_s must be finite and >= 0'),
    ([rule(actions=[("K", "g", 0.0, NAN)])], 'policy rule "boost": action ttl_s must be finite and >= 0'),
    ([rule("A"), rule("B", actions=[]), rule("")], 'policy rule "B": actions must not be empty'),
    # a NUL inside a name is shown escaped, with the rest of the name after it
    ([rule(name="a\x00b\tc", actions=[])], 'policy rule "a\\0b\\tc": actions must not be empty'),
])
def test_construction_messages(rules, message):
    assert build_error(rules) == message


@pytest.mark.parametrize("rules, exc, message", [
    ("rules", TypeError, None),
    ([rule()[:6]], ValueError, "expected tuple of length 7, but got tuple of length 6"),
    ([rule(conds=[("R", ">")])], ValueError, "expected tuple of length 3, but got tuple of length 2"),
    ([rule(actions=[ACT + (1.0,)])], ValueError, "expected tuple of length 4, but got tuple of length 5"),
    # the whole argument is converted before any op is looked up
    ([rule(conds=[("R", "=>", 0.5)]), rule(max_fires=2**32)], OverflowError, None),
])
def test_conversion_failures(rules, exc, message):
    with pytest.raises(exc) as e:
        q.PyRuleEngine(rules=rules)
    assert e.value.__notes__ == ["while processing 'rules'"]
    if message is not None:
        assert str(e.value) == message


@pytest.mark.parametrize("rules", [
    [],
    [rule(logic="and"), rule(logic="Or"), rule(logic="oR")],
    [rule(cooldown=-0.0, actions=[("K", "g", -0.0, -0.0)])],
    [rule(" "), rule(" ")],
    [rule(regimes=[]), rule(regimes=["", "no such regime"])],
])
def test_accepted_rules(rules):
    e = q.PyRuleEngine(rules)
    assert e.rule_names == [r[0] for r in rules]
    assert e.clock == 0.0 and e.fire_counts == {} and e.last_fire_times == {}


@pytest.mark.parametrize("name, shown", [
    ('"\\', '\\"\\\\'), ("\t\r\n\x00'", "\\t\\r\\n\\0'"), ("\u00e9 e\u0301", "\u00e9 e\\u{301}"),
    ("\u00a0\u0378\U0010ffff", "\\u{a0}\\u{378}\\u{10ffff}"),
])
def test_quoted_form(name, shown):
    assert build_error([rule(name, cooldown=-1.0)]) == f'policy rule "{shown}": cooldown_s must be finite and >= 0'


def _assigned_chunks(limit, step=2048):
    chars = [chr(c) for c in range(limit) if not 0xD800 <= c <= 0xDFFF
             and unicodedata.category(chr(c)) != "Cn"]
    return ["".join(chars[i:i + step]) for i in range(0, len(chars), step)]


def test_quoted_form_matches_unicode_data():
    # Characters assigned in this interpreter's Unicode version, in both planes that hold most of them.
    for chunk in _assigned_chunks(0x20000):
        msg = build_error([rule(chunk, cooldown=-1.0)])
        assert msg == f"policy rule {ref.quoted(chunk)}: cooldown_s must be finite and >= 0"


def test_upper_case_matches_unicode_data():
    for chunk in _assigned_chunks(0x20000):
        assert build_error([rule(logic=chunk)]) == "unknown rule logic: " + chunk.upper()


@pytest.mark.parametrize("declared, asked, fires", [
    ("nominal", "nominal", True), ("nominal", "Nominal", True), ("nominal", "NOMINAL", True),
    ("nominal", " nominal", False), ("nominal ", "nominal", False), ("Straße", "STRASSE", True),
    ("STRASSE", "straße", True), (" ", " ", False), ("x", "x\u00a0", False),
])
def test_regime_gate(declared, asked, fires):
    e = q.PyRuleEngine([rule(regimes=[declared])])
    assert (e.evaluate(asked, {"R": 0.1}) != []) == fires
    assert e.fire_counts == ({"boost": 1} if fires else {})


@pytest.mark.parametrize("op, threshold, value, expected", [
    ("==", 0.3, 0.1 + 0.2, True), ("==", 1.0, 1.0 + 1e-11, False), ("==", 0.0, 1e-12, False),
    ("==", 0.0, -9e-13, True), (">", 0.5, 0.5, False), (">=", 0.5, 0.5, True), ("<", 0.5, 0.5, False),
    ("<=", 0.5, 0.5, True), ("<", 0.5, -INF, False), (">", 0.5, INF, False), ("<=", 0.5, NAN, False),
])
def test_operators(op, threshold, value, expected):
    e = q.PyRuleEngine([rule(conds=[("m", op, threshold)])])
    assert (e.evaluate("nominal", {"m": value}) != []) == expected


@pytest.mark.parametrize("logic, ctx, fires", [
    ("OR", {"b": 1.0}, True), ("OR", {"a": NAN, "b": 1.0}, True), ("OR", {"a": 0.0, "b": 0.0}, False),
    ("AND", {"b": 1.0}, False), ("AND", {"a": 1.0, "b": 1.0}, True), ("AND", {"a": 1.0, "b": INF}, False),
])
def test_compound_logic(logic, ctx, fires):
    e = q.PyRuleEngine([rule(conds=[("a", ">", 0.5), ("b", ">", 0.5)], logic=logic)])
    assert (e.evaluate("nominal", ctx) != []) == fires


def test_cooldown_runs_on_the_engine_clock():
    e = q.PyRuleEngine([rule(cooldown=5.0)])
    ctx = {"R": 0.1}
    assert e.evaluate("nominal", ctx) == [("K", "global", 0.05, 10.0, "boost")]
    e.advance_clock(4.0)
    assert e.evaluate("nominal", ctx) == []
    e.advance_clock(1.0)
    assert e.evaluate("nominal", ctx) != []
    assert e.fire_count("boost") == 2 and e.last_fire_time("boost") == 5.0 and e.clock == 5.0


@pytest.mark.parametrize("max_fires, expected", [(2, 2), (1, 1), (0, 7), (2**32 - 1, 7)])
def test_fire_limit_and_reset(max_fires, expected):
    e = q.PyRuleEngine([rule(max_fires=max_fires)])
    fired = [bool(e.evaluate("nominal", {"R": 0.1})) for _ in range(7)]
    assert fired == [True] * expected + [False] * (7 - expected)
    e.advance_clock(3.0)
    e.reset()
    assert (e.clock, e.fire_counts, e.last_fire_times, e.rule_names) == (0.0, {}, {}, ["boost"])
    assert e.evaluate("nominal", {"R": 0.1}) != []


@pytest.mark.parametrize("cooldown, max_fires, expected", [(0.0, 1, ["a"]), (1.0, 0, ["a"]), (0.0, 0, ["a", "b"])])
def test_shared_names_share_one_record(cooldown, max_fires, expected):
    e = q.PyRuleEngine([rule("x", actions=[("a", "g", 1.0, 0.0)], cooldown=cooldown, max_fires=max_fires),
                        rule("x", actions=[("b", "g", 1.0, 0.0)], cooldown=cooldown, max_fires=max_fires)])
    assert [f[0] for f in e.evaluate("nominal", {"R": 0.1})] == expected
    assert e.fire_count("x") == len(expected) and e.fire_counts == {"x": len(expected)}


def test_fired_actions_come_in_rule_then_action_order():
    e = q.PyRuleEngine([rule("r1", actions=[("K", "global", 0.05, 10.0), ("boost-K", "layer_0", -1.0, 0.0)]),
                        rule("r2", regimes=["critical"]),
                        rule("r\x003", conds=[("R", ">", 0.0)], actions=[("Psi", "x", 2.0, 1.5)])])
    assert e.evaluate("nominal", {"R": 0.1}) == [("K", "global", 0.05, 10.0, "r1"),
                                                 ("boost-K", "layer_0", -1.0, 0.0, "r1"),
                                                 ("Psi", "x", 2.0, 1.5, "r\x003")]
    assert e.fire_counts == {"r1": 1, "r\x003": 1} and e.fire_count("r") == 0


@pytest.mark.parametrize("regime", ["", " ", "\t\u3000\n"])
def test_blank_regime_records_nothing(regime):
    e = q.PyRuleEngine([rule(regimes=[regime, " ", ""])])
    assert e.evaluate(regime, {"R": 0.1}) == []
    assert e.fire_counts == {} and e.last_fire_times == {}


def test_advance_clock_ignores_unusable_amounts():
    e = q.PyRuleEngine([])
    for dt in (-1.0, NAN, INF, -INF, -0.0, -5e-324):
        e.advance_clock(dt)
    assert e.clock == 0.0 and math.copysign(1.0, e.clock) == 1.0
    e.advance_clock(0.25)
    e.advance_clock(5e-324)
    e.advance_clock(True)
    assert e.clock == 1.25
    assert e.fire_count("nobody") == 0 and e.last_fire_time("nobody") is None


def probe_engine(keys):
    # One rule per key, named after it, that fires when the key is present.
    return q.PyRuleEngine([rule(k, conds=[(k, ">", -1e308)]) for k in keys])


@pytest.mark.parametrize("layer_rs, good, bad, extra", [
    ([0.2, 0.8], [1, 5, 0], [], None),
    ([0.2, 0.8], [], [0, 0, 2, 1], {"R": 7.0, "temp": 3.0, "R_1": 9.0}),
    ([], [0], [1], {}),
    ([1.5, -0.5, 0.25], [2, 2], [3, 0], {"stability_proxy": 1.0}),
])
def test_evaluate_state_metric_map(layer_rs, good, bad, extra):
    expected = ref.state_metrics(layer_rs, good, bad, extra)
    keys = sorted(expected) + ["R_good.1", "R_bad_9", "psi.7", "R.3"]
    keys = list(dict.fromkeys(keys))
    e = probe_engine(keys)
    fired = {f[4] for f in e.evaluate_state("nominal", layer_rs, good, bad, extra)}
    assert fired == set(expected)
    # the values themselves
    e = q.PyRuleEngine([rule(k, conds=[(k, "==", v)]) for k, v in expected.items()])
    fired = {f[4] for f in e.evaluate_state("nominal", layer_rs, good, bad, extra=extra)}
    assert fired == set(expected)


def test_evaluate_state_uses_values_unchecked():
    e = q.PyRuleEngine([rule("nan", conds=[("R", "<", 1.0)]), rule("raw", conds=[("R_1", ">", 1.0)])])
    assert [f[4] for f in e.evaluate_state("nominal", [0.5, NAN, 3.0], [], [])] == []
    assert [f[4] for f in e.evaluate_state("nominal", [0.5, 2.0], [], [])] == ["raw"]


@pytest.mark.parametrize("call, param, exc", [
    (lambda e: e.evaluate("nominal", {"R": "x"}), "ctx", TypeError),
    (lambda e: e.evaluate_state("nominal", [0.1], [-1], []), "good_layers", OverflowError),
    (lambda e: e.evaluate_state("nominal", [0.1], [], [], {"R": None}), "extra", TypeError),
])
def test_bad_arguments_change_nothing(call, param, exc):
    e = q.PyRuleEngine([rule()])
    e.evaluate("nominal", {"R": 0.1})
    e.advance_clock(1.0)
    with pytest.raises(exc) as err:
        call(e)
    assert err.value.__notes__ == [f"while processing '{param}'"]
    assert (e.fire_counts, e.last_fire_times, e.clock) == ({"boost": 1}, {"boost": 0.0}, 1.0)


def test_random_runs_match_reference():
    rng = random.Random(7)
    metrics, ops = ["a", "b", "c"], [">", ">=", "<", "<=", "=="]
    for _ in range(40):
        rules = []
        for _ in range(rng.randint(0, 8)):
            conds = [(rng.choice(metrics), rng.choice(ops), rng.choice([0.0, 0.5, 1.0]))
                     for _ in range(rng.randint(1, 3))]
            rules.append(rule(rng.choice("pqrs"), rng.sample(["nominal", "Critical", "x"], rng.randint(0, 2)),
                              conds, rng.choice(["and", "OR"]), [(rng.choice("Kz"), "g", rng.random(), 1.0)],
                              rng.choice([0.0, 0.0, 0.5, 2.0]), rng.choice([0, 0, 1, 3])))
        ours, theirs = q.PyRuleEngine(rules), ref.Engine(rules)
        for _ in range(30):
            dt = rng.choice([0.0, 0.25, 1.0, -1.0, NAN])
            ours.advance_clock(dt)
            theirs.advance_clock(dt)
            ctx = {m: rng.choice([0.0, 0.5, 1.0, NAN, 0.7]) for m in rng.sample(metrics, rng.randint(0, 3))}
            regime = rng.choice(["nominal", "NOMINAL", "critical", " x", "x"])
            assert ours.evaluate(regime, ctx) == theirs.evaluate(regime, ctx)
            assert ours.fire_counts == theirs.counts and ours.last_fire_times == theirs.last


def test_fire_count_saturates(tmp_path):
    import pathlib
    import shutil
    import subprocess

    cxx = shutil.which("g++")
    if cxx is None:
        pytest.skip("needs a C++ compiler")
    root = pathlib.Path(__file__).resolve().parents[2]
    src = root / "src"
    exe = tmp_path / "counter"
    subprocess.run([cxx, "-std=c++20", "-O1", f"-I{src}", str(root / "tests/supervisor/rule_engine_counter.cpp"),
                    str(src / "supervisor/rule_engine.cpp"), str(src / "supervisor/condition.cpp"),
                    str(src / "supervisor/text.cpp"), str(src / "types/format.cpp"), str(src / "types/action.cpp"), "-licuuc", "-o", str(exe)],
                   check=True)
    result = subprocess.run([str(exe)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout
