"""Hyperplane and phase Poincare sections."""
import numpy as np
import pytest

import qel_kernel as qk
from reference import poincare as ref
from support import same_on_one_cpu

A = np.array
TAU = 2 * np.pi


def same(ours, expected):
    pts, times, n = ours
    return n == expected[2] == len(times) and pts.tobytes() == A(expected[0], float).tobytes() and \
        times.tobytes() == A(expected[1], float).tobytes()


@pytest.mark.parametrize("traj, normal, offset, direction, pts, times", [
    ([-1.0, 1.0], [1.0], 0.0, "negative", [], []),
    ([-1.0, 1.0], [2.0], 0.5, "positive", [0.5], [0.75]),  # offset along the unit normal
    ([-1.0, 0.0, 1.0], [1.0], 0.0, "positive", [0.0], [1.0]),  # the pair (0, 1) does not count again
    ([-1.0, 0.0, 1.0], [1.0], 0.0, "both", [], []),
    ([-1e-16, 1e-16], [1.0], 0.0, "both", [0.0], [0.5]),  # |diff| <= 1e-15: half way
    ([-1e-200, 1e-200], [1.0], 0.0, "both", [0.0], [0.5]),  # the product underflows to -0.0
    ([np.nan, 1.0, -1.0], [1.0], 0.0, "both", [0.0], [1.5]),
])
def test_hyperplane_cases(traj, normal, offset, direction, pts, times):
    assert same(qk.poincare_section_rust(A(traj), len(traj), 1, A(normal), offset, direction), (pts, times, len(times)))


@pytest.mark.parametrize("direction", ["positive", "negative", "both"])
@pytest.mark.parametrize("t", [0, 2, 40_000])
def test_hyperplane_matches_numpy(direction, t):
    rng = np.random.default_rng(t)
    traj = rng.normal(size=3 * t)
    traj[rng.integers(0, max(1, 3 * t), 5 if t > 100 else 0)] = np.nan
    normal = A([0.3, -1.2, 2.0])
    ours = qk.poincare_section_rust(traj, t, 3, normal, 0.7, direction)
    assert same(ours, ref.section(traj, t, 3, normal, 0.7, direction)) and (ours[2] > 100 or t < 100)


def test_phase_section_passes_the_seam_along_the_short_arc():
    pts, times, n = qk.phase_poincare_rust(A([6.0, 0.5]), 2, 1)
    assert (pts.tolist(), times.tolist(), n) == ([6.283185307179586], [0.3615814859951799], 1)
    # A phase going backwards through the opposite point also counts.
    assert qk.phase_poincare_rust(A([3.2, 3.1]), 2, 1)[2] == 1
    # A jump of exactly +pi unwraps to -pi (halves round away from zero), and the point follows it.
    pts, times, _ = qk.phase_poincare_rust(A([0.0, np.pi]), 2, 1, 0, -3.5)
    assert pts[0] == -np.pi * times[0] < 0
    # Just below 2pi the relative phase rounds up to 4pi, whose remainder is 0: no crossing.
    assert qk.phase_poincare_rust(A([np.nextafter(TAU, 0.0), 0.5]), 2, 1)[2] == 0


def test_linear_phase_crosses_at_exact_times():
    phases = np.arange(40) * 0.5 + 0.25  # 0.25 past the section at every multiple of 2pi
    _, times, _ = qk.phase_poincare_rust(np.fmod(phases, TAU), 40, 1, 0, 0.25)
    assert times == pytest.approx(TAU * np.arange(1, 4) / 0.5, rel=1e-14)


def test_nan_in_the_chosen_series_ends_its_crossings():
    t = 60
    rows = np.stack([np.arange(t) * 0.9, np.arange(t) * 0.4], axis=1)
    full = qk.phase_poincare_rust(rows.ravel(), t, 2)
    rows[28, 1] = rows[31, 0] = np.nan  # the crossing at 27.93 loses its second component
    cut = qk.phase_poincare_rust(rows.ravel(), t, 2)
    assert cut[2] == np.sum(full[1] < 30) and cut[1].tobytes() == full[1][: cut[2]].tobytes()
    assert np.isnan(cut[0]).reshape(-1, 2).tolist() == [[False, int(k) == 27] for k in cut[1]]


@pytest.mark.parametrize("t, n, idx, phase", [(0, 3, 1, 0.0), (5, 1, 0, 1.0), (30_000, 4, 2, -2.5)])
def test_phase_section_matches_numpy(t, n, idx, phase):
    rng = np.random.default_rng(n)
    rows = np.cumsum(rng.normal(0.3, 1.5, size=(t, n)), axis=0)
    rows[: t // 2] = np.mod(rows[: t // 2], TAU)  # wrapped and unwrapped rows alike
    rows[rng.integers(0, max(t, 1), 3 if t > 100 else 0), (idx + 1) % n] = np.nan
    assert same(qk.phase_poincare_rust(rows.ravel(), t, n, idx, phase), ref.phase_section(rows.ravel(), t, n, idx, phase))


@pytest.mark.parametrize("call, message", [
    (lambda: qk.poincare_section_rust(A([1.0]), 3, 1, A([]), 0.0, "up"), "direction must be 'positive', 'negative', or 'both'"),
    (lambda: qk.poincare_section_rust(A([1.0, 2.0, 3.0]), 2, 1, A([1.0])), "trajectory length 3 != T*d = 2"),
    (lambda: qk.poincare_section_rust(A([1.0]), 2**33, 2**33, A([1.0])), "trajectory length 1 != T*d = 73786976294838206464"),
    (lambda: qk.poincare_section_rust(A([1.0, 2.0]), 1, 2, A([1.0])), "normal length 1 != d = 2"),
    (lambda: qk.poincare_section_rust(A([1.0, 2.0]), 1, 2, A([0.0, 1e-16])), "normal vector has zero length"),
    (lambda: qk.poincare_section_rust(A([]), 3, 0, A([])), "normal vector has zero length"),

    (lambda: qk.phase_poincare_rust(A([1.0]), 2, 1), "phases length 1 != T*N = 2"),
    (lambda: qk.phase_poincare_rust(A([1.0, 2.0]), 1, 2, 2), "oscillator_idx 2 >= N = 2"),
    (lambda: qk.phase_poincare_rust(A([]), 0, 0), "oscillator_idx 0 >= N = 0"),
])
def test_refusals(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message


def test_empty_input_is_an_empty_section():
    for pts, times, n in [qk.poincare_section_rust(A([]), 0, 2, A([1.0, 0.0])), qk.phase_poincare_rust(A([]), 0, 3)]:
        assert (pts.dtype, times.dtype, len(pts), len(times), n) == (np.float64, np.float64, 0, 0, 0)


def test_sections_do_not_depend_on_worker_count():
    same_on_one_cpu("""import numpy as np, qel_kernel as qk
traj = np.cumsum(np.random.default_rng(5).normal(size=300_000))
out = b"".join(r[0].tobytes() + r[1].tobytes() for r in (
    qk.poincare_section_rust(traj, 100_000, 3, np.array([1.0, 2.0, -1.0]), 0.1, "both"),
    qk.phase_poincare_rust(traj, 100_000, 3, 1, 0.5)))""")
