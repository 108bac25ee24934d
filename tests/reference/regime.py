"""The regime state machine and the supervisor policy's table, in plain Python."""
import math

SEVERITY = {"nominal": 0, "degraded": 1, "recovery": 2, "critical": 3}


def mean(rs):
    total = 0.0
    for r in rs:
        total += r
    return total / len(rs) if rs else 0.0


class RegimeManager:
    def __init__(self, hysteresis=0.05, cooldown_steps=10, hysteresis_hold_steps=0):
        ok = math.isfinite(hysteresis) and hysteresis >= 0
        self.hysteresis = hysteresis if ok else 0.0
        self.cooldown, self.hold_steps = cooldown_steps, hysteresis_hold_steps
        self.current, self.step, self.last, self.hold, self.log = "nominal", 0, 0, 0, []

    def evaluate(self, rs, hard):
        r = mean(rs)
        if r < 0.3 or hard or not math.isfinite(r):
            return "critical"
        back = r < 0.6 + self.hysteresis
        if self.current in ("nominal", "degraded"):
            return "degraded" if r < 0.6 or (self.current == "degraded" and back) else "nominal"
        return "recovery" if r < 0.6 or self.current == "critical" or back else "nominal"

    def _commit(self, new):
        self.log = (self.log + [(self.step, self.current, new)])[-100:]
        self.last, self.current, self.hold = self.step, new, 0

    def transition(self, proposed):
        self.step += 1
        if proposed == self.current:
            self.hold = 0
            return self.current
        if self.hold_steps > 0 and proposed != "critical" and SEVERITY[proposed] > SEVERITY[self.current]:
            self.hold += 1
            if self.hold < self.hold_steps:
                return self.current
        else:
            self.hold = 0
        if self.last != 0 and proposed != "critical" and max(self.step - self.last, 0) < self.cooldown:
            return self.current
        self._commit(proposed)
        return self.current

    def force_transition(self, regime):
        self.step += 1
        if regime != self.current:
            self._commit(regime)
        return self.current


def policy_actions(regime, rs):
    """The action dicts of a regime; the weakest layer is the first smallest R (all are valid here)."""
    if regime == "degraded":
        return [dict(knob="K", scope="global", value=0.05, ttl_s=10.0, justification="degraded: boost global coupling")]
    if regime == "recovery":
        return [dict(knob="K", scope="global", value=0.025, ttl_s=15.0,
                     justification="recovery: gradual coupling restore")]
    if regime != "critical":
        return []
    out = [dict(knob="zeta", scope="global", value=0.1, ttl_s=5.0, justification="critical: increase damping")]
    if rs:
        i = rs.index(min(rs))
        out.append(dict(knob="K", scope=f"layer_{i}", value=-0.03, ttl_s=5.0,
                        justification=f"critical: reduce coupling on layer {i}"))
    return out


class SupervisorPolicy(RegimeManager):
    """A regime manager without hold that answers with the action table."""

    def decide(self, rs, hard):
        if not all(0.0 <= r <= 1.0 for r in rs):  # NaN fails the test too
            return []
        return policy_actions(self.transition(self.evaluate(rs, hard)), rs)
