"""Rule evaluation with 1,000 rules against NumPy and plain Python doing the same work."""
import os
import random
import sys

import numpy as np

import qel_kernel as qk
from harness import compare, header

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from reference import rule_engine as ref  # noqa: E402

OPS = [">", ">=", "<", "<=", "=="]
REGIMES = ["nominal", "degraded", "critical", "recovery"]


def make_rules(n, n_metrics, seed=0):
    rng = random.Random(seed)
    rules = []
    for i in range(n):
        conds = [(f"m{rng.randrange(n_metrics)}", rng.choice(OPS[:4]), rng.random()) for _ in range(2)]
        rules.append((f"rule{i}", rng.sample(REGIMES, 2), conds, rng.choice(["AND", "OR"]),
                      [("K", "global", 0.01, 5.0)], 0.0, 0))
    return rules


class NumpyEngine:
    """Conditions tested as arrays; the firing record kept per rule name as the engine keeps it."""

    def __init__(self, rules, metrics):
        self.names = [r[0] for r in rules]
        self.actions = [r[4] for r in rules]
        self.index = {m: k for k, m in enumerate(metrics)}
        self.regime_mask = {g: np.array([g.upper() in [x.upper() for x in r[1]] for r in rules]) for g in REGIMES}
        self.metric = np.array([[self.index[c[0]] for c in r[2]] for r in rules])
        self.op = np.array([[OPS.index(c[1]) for c in r[2]] for r in rules])
        self.threshold = np.array([[c[2] for c in r[2]] for r in rules])
        self.is_and = np.array([r[3] == "AND" for r in rules])
        self.counts, self.last, self.clock = {}, {}, 0.0

    def evaluate(self, regime, ctx):
        values = np.full(len(self.index), np.nan)
        for k, v in ctx.items():
            values[self.index[k]] = v
        v, t = values[self.metric], self.threshold
        with np.errstate(invalid="ignore"):
            tests = np.select([self.op == 0, self.op == 1, self.op == 2, self.op == 3],
                              [v > t, v >= t, v < t, v <= t], np.abs(v - t) < 1e-12)
        tests &= np.isfinite(v)
        ok = np.where(self.is_and, tests.all(axis=1), tests.any(axis=1)) & self.regime_mask[regime.lower()]
        fired = []
        for i in np.flatnonzero(ok):
            name = self.names[i]
            self.counts[name] = self.counts.get(name, 0) + 1
            self.last[name] = self.clock
            fired += [(k, s, val, ttl, name) for k, s, val, ttl in self.actions[i]]
        return fired


def main():
    header("rule engine")
    n_metrics = 20
    rules = make_rules(1000, n_metrics)
    metrics = [f"m{k}" for k in range(n_metrics)]
    ctx = {m: random.Random(k).random() for k, m in enumerate(metrics)}
    ours, theirs, plain = qk.PyRuleEngine(rules), NumpyEngine(rules, metrics), ref.Engine(rules)
    assert ours.evaluate("nominal", ctx) == theirs.evaluate("nominal", ctx) == plain.evaluate("nominal", ctx)
    print(f"({len(ours.evaluate('nominal', ctx))} of 1000 rules fire per call)")
    compare("evaluate, 1000 rules, 20 metrics vs NumPy", lambda: ours.evaluate("nominal", ctx),
            lambda: theirs.evaluate("nominal", ctx))
    compare("evaluate, 1000 rules, 20 metrics vs plain Python", lambda: ours.evaluate("nominal", ctx),
            lambda: plain.evaluate("nominal", ctx))
    layer_rs = [0.3, 0.9, 0.5, 0.7]
    compare("evaluate_state, 1000 rules, 4 layers vs plain Python",
            lambda: ours.evaluate_state("nominal", layer_rs, [0, 1], [2, 3], ctx),
            lambda: plain.evaluate("nominal", ref.state_metrics(layer_rs, [0, 1], [2, 3], ctx)))


if __name__ == "__main__":
    main()
