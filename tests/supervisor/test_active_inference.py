import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import active_inference as ref

PI, NAN, INF = math.pi, math.nan, math.inf
TARGET, LR = "target_r must be finite and in [0, 1]", "lr must be finite and > 0"


@pytest.mark.parametrize("kwargs, message", [
    ({"n_hidden": 0, "target_r": 2.0, "lr": 0.0}, "n_hidden > 0"),
    ({"target_r": NAN, "lr": -1.0}, TARGET), ({"target_r": -1e-300}, TARGET), ({"target_r": 1.5}, TARGET),
    ({"lr": 0.0}, LR), ({"lr": NAN}, LR), ({"lr": INF}, LR),
    ({"target_r": 0.0, "lr": 5e-324}, None), ({"target_r": 1.0, "lr": 1e300}, None),
])
def test_constructor_checks_in_order(kwargs, message):
    if message is None:
        assert qk.PyActiveInferenceAgent(1, **kwargs).target_r == kwargs["target_r"]
        return
    with pytest.raises(ValueError) as info:
        qk.PyActiveInferenceAgent(**kwargs)
    assert str(info.value) == "invalid config: " + message


@pytest.mark.parametrize("lr, kwargs, expected", [
    (1.0, {}, (0.0, 0.0)), (1.0, {"r_obs": 0.25, "psi_obs": 1.0}, (2.5, 1.0)), (2.0, {"r_obs": 0.0}, (5.0, 0.0)),
    (1.0, {"r_obs": 0.75, "psi_obs": 6.0}, (2.5, 6.0 + PI - 2 * PI)), (0.5, {"r_obs": 0.6, "dt": 3.0}, (0.5, PI)),
    (1.0, {"r_obs": NAN, "psi_obs": 2.0}, (NAN, 2.0)), (1.0, {"r_obs": 0.9, "psi_obs": NAN}, (4.0, NAN)),
    # With phases, r_obs and psi_obs are ignored.
    (1.0, {"phases": np.zeros(3), "r_obs": 0.0}, (0.0, 0.0)), (1.0, {"phases": np.array([])}, (0.0, 0.0)),
    (1.0, {"phases": np.array([0.1, NAN]), "psi_obs": 1.0}, (0.0, 0.0)),
    (1.0, {"phases": np.array([0.0, PI])}, (5.0, 1.5 * PI)),  # R about 6e-17: gain just below 5
])
def test_worked_examples(lr, kwargs, expected):
    got = qk.PyActiveInferenceAgent(lr=lr).control(**kwargs)
    np.testing.assert_allclose(got, expected, rtol=0, atol=1e-15)
    want = (ref.control_phases(kwargs["phases"], 0.5) if "phases" in kwargs
            else ref.control_observed(0.5, lr, kwargs.get("r_obs"), kwargs.get("psi_obs")))
    np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize("view", [
    lambda a: a, lambda a: a[::2], lambda a: a[::-3],
    lambda a: np.frombuffer(b"\0" + a.tobytes(), dtype=np.float64, offset=1, count=a.size),  # misaligned
])
def test_phase_path_matches_reference_on_strided_and_misaligned_arrays(view):
    for seed, target in enumerate([0.0, 0.9, 1.0]):
        rng = np.random.default_rng(seed)
        phases = view(rng.normal(seed * 0.5, 0.3 + seed, int(rng.integers(1, 50))))
        agent = qk.PyActiveInferenceAgent(target_r=target, lr=3.0)
        assert agent.control(phases) == ref.control_phases(list(phases), target)


def test_target_r_is_unchecked_and_nan_reaches_the_gain():
    agent = qk.PyActiveInferenceAgent(n_hidden=2**64 - 1)  # no hidden model is allocated
    agent.target_r = 2.0
    assert agent.control(np.array([0.3, 0.3]))[0] == 5.0
    agent.target_r = NAN
    for kwargs in ({"phases": np.array([0.2, 0.4])}, {"r_obs": 0.7, "psi_obs": 1.0}, {}):
        gain, psi = agent.control(**kwargs)
        assert math.isnan(gain)
        assert not math.isnan(psi) and psi < PI
    with pytest.raises(TypeError) as info:
        agent.target_r = "high"
    assert info.value.__notes__ == ["while processing 'val'"]
    assert math.isnan(agent.target_r)
