"""The quality scorer's judgements, written out in Python."""
import math


def clamp01(q):
    return min(max(q, 0.0), 1.0)


def score(qualities, amplitudes, collapse_threshold=0.1, min_quality=0.3):
    if not (qualities and amplitudes and math.isfinite(collapse_threshold) and math.isfinite(min_quality)):
        return 0.0
    num = den = 0.0
    for q, a in zip(qualities, amplitudes):
        if math.isfinite(q) and math.isfinite(a):
            w = max(a, 1e-12)
            num += clamp01(q) * w
            den += w
    return num / den if den > 0.0 else 0.0


def is_collapsed(qualities, collapse_threshold=0.1):
    if not math.isfinite(collapse_threshold) or not qualities:
        return True
    poor = sum(1 for q in qualities if not math.isfinite(q) or q < collapse_threshold)
    return poor > len(qualities) // 2


def downweight_mask(qualities, min_quality=0.3):
    ok = math.isfinite(min_quality)
    return [clamp01(q) if ok and math.isfinite(q) and q >= min_quality else 0.0 for q in qualities]
