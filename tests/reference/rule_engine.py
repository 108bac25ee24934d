"""The rule engine's texts and evaluation, written from their definitions in plain Python."""
import math
import unicodedata

# Characters outside the combining-mark categories that still extend a grapheme.
_OTHER_GRAPHEME_EXTEND = {
    0x09BE, 0x09D7, 0x0B3E, 0x0B57, 0x0BBE, 0x0BD7, 0x0CC2, 0x0CD5, 0x0CD6, 0x0D3E, 0x0D57,
    0x0DCF, 0x0DDF, 0x1B35, 0x200C, 0x302E, 0x302F, 0xFF9E, 0xFF9F, 0x1133E, 0x11357,
    0x114B0, 0x114BD, 0x115AF, 0x11930, 0x1D165, 0x1D16E, 0x1D16F, 0x1D170, 0x1D171, 0x1D172,
} | set(range(0xE0020, 0xE0080))

_ESCAPES = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}
# Combining marks (Grapheme_Extend) and the categories that do not print.
_HIDDEN = {"Mn", "Me", "Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp"}
# Unicode White_Space.
_WHITE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"


def quoted(s):
    def one(ch):
        cat = unicodedata.category(ch)
        if ch in _ESCAPES:
            return _ESCAPES[ch]
        if cat in _HIDDEN or ord(ch) in _OTHER_GRAPHEME_EXTEND or (cat == "Zs" and ch != " "):
            return "\\u{%x}" % ord(ch)
        return ch
    return '"' + "".join(map(one, s)) + '"'


def condition(metrics, metric, op, t):
    v = metrics.get(metric)
    if v is None or not math.isfinite(v):
        return False
    return {">": v > t, ">=": v >= t, "<": v < t, "<=": v <= t, "==": abs(v - t) < 1e-12}[op]


class Engine:
    """Rules as the 7-tuples the constructor takes; the firing record keyed by name."""

    def __init__(self, rules):
        self.rules = rules
        self.counts, self.last, self.clock = {}, {}, 0.0

    def advance_clock(self, dt):
        if math.isfinite(dt) and dt >= 0:
            self.clock += dt

    def evaluate(self, regime, metrics):
        fired = []
        if regime.strip(_WHITE) == "":
            return fired
        key = regime.upper()
        for name, regimes, conds, logic, actions, cooldown, max_fires in self.rules:
            if key not in [g.upper() for g in regimes]:
                continue
            results = (condition(metrics, *c) for c in conds)
            if not (all(results) if len(conds) == 1 or logic.upper() == "AND" else any(results)):
                continue
            if cooldown > 0 and self.clock - self.last.get(name, -1.0 - cooldown) < cooldown:
                continue
            if name in self.counts and max_fires != 0 and self.counts[name] >= max_fires:
                continue
            self.counts[name] = min(self.counts.get(name, 0) + 1, 2**32 - 1)
            self.last[name] = self.clock
            fired += [(k, s, v, ttl, name) for k, s, v, ttl in actions]
        return fired


def state_metrics(layer_rs, good_layers, bad_layers, extra=None):
    m = dict(extra or {})
    n = len(layer_rs)
    total = 0.0
    for r in layer_rs:
        total += r
    mean = total / n if n else 0.0
    m["stability_proxy"] = m["R"] = mean
    for i, r in enumerate(layer_rs):
        m[f"R.{i}"] = m[f"R_{i}"] = r
        m[f"psi.{i}"] = m[f"psi_{i}"] = 0.0
    for tag, layers in (("good", good_layers), ("bad", bad_layers)):
        for k, idx in enumerate(layers):
            if idx < n:
                m[f"R_{tag}.{k}"] = m[f"R_{tag}_{k}"] = layer_rs[idx]
    return m
