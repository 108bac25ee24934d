"""Boundary checks on named metric values, in plain Python."""
import math
from decimal import ROUND_HALF_EVEN, Decimal, localcontext

# Unicode White_Space (str.isspace also counts U+001C..U+001F, which are not).
WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000" + "".join(map(chr, range(0x2000, 0x200B)))


def is_blank(s):
    return s.strip(WHITE_SPACE) == ""


def fixed4(v):
    """Four decimals, rounded half-even from the exact binary value, sign kept."""
    with localcontext() as ctx:
        ctx.prec = 400  # room for the widest double
        d = Decimal(v).quantize(Decimal("0.0001"), rounding=ROUND_HALF_EVEN)
    text = format(d, "f")
    if math.copysign(1.0, v) < 0 and not text.startswith("-"):
        text = "-" + text
    return text


def bound_form(b):
    if b is None:
        return "None"
    if b == 0 or 1e-4 <= abs(b) < 1e16:
        text = repr(float(b))  # Python's repr switches to exponents at the same limits
    else:
        mant, exp = repr(float(b)).split("e")
        text = f"{mant}e{int(exp)}"
    return f"Some({text})"


def observe(defs, values):
    out = {"violations": [], "soft_violations": [], "hard_violations": []}
    for name, metric, lower, upper, severity in defs:
        if is_blank(name) or is_blank(metric) or metric not in values:
            continue
        if any(b is not None and not math.isfinite(b) for b in (lower, upper)):
            continue
        if lower is not None and upper is not None and upper < lower:
            continue
        v = float(values[metric])
        if not math.isfinite(v):
            msg, kind = f"{name}: {metric} is non-finite and treated as hard violation", "hard"
        elif (lower is not None and v < lower) or (upper is not None and v > upper):
            msg = f"{name}: {metric}={fixed4(v)} outside [{bound_form(lower)}, {bound_form(upper)}]"
            kind = "hard" if severity == "hard" else "soft"
        else:
            continue
        out["violations"].append(msg)
        out[f"{kind}_violations"].append(msg)
    return out
