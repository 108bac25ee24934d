import inspect
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import active_inference as ref

PI = math.pi
NAN = float("nan")
INF = float("inf")


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"n_hidden": 0}, "n_hidden > 0"),
        ({"n_hidden": 0, "target_r": 2.0, "lr": 0.0}, "n_hidden > 0"),
        ({"target_r": 1.5}, "target_r must be finite and in [0, 1]"),
        ({"target_r": -1e-300}, "target_r must be finite and in [0, 1]"),
        ({"target_r": NAN}, "target_r must be finite and in [0, 1]"),
        ({"target_r": INF, "lr": -1.0}, "target_r must be finite and in [0, 1]"),
        ({"lr": 0.0}, "lr must be finite and > 0"),
        ({"lr": -0.0}, "lr must be finite and > 0"),
        ({"lr": -2.0}, "lr must be finite and > 0"),
        ({"lr": NAN}, "lr must be finite and > 0"),
        ({"lr": INF}, "lr must be finite and > 0"),
    ],
)
def test_constructor_checks_in_order(kwargs, message):
    with pytest.raises(ValueError) as info:
        qk.PyActiveInferenceAgent(**kwargs)
    assert str(info.value) == "invalid config: " + message


@pytest.mark.parametrize("args", [(1, 0.0, 5e-324), (1, 1.0, 1e300), (1, -0.0, 1.0)])
def test_constructor_boundary_values_pass(args):
    assert qk.PyActiveInferenceAgent(*args).target_r == args[1]


def test_huge_model_size_allocates_nothing():
    agent = qk.PyActiveInferenceAgent(n_hidden=2**64 - 1)
    assert agent.control(np.zeros(3)) == (0.0, 0.0)


@pytest.mark.parametrize(
    "kwargs, exc, name",
    [
        ({"n_hidden": -1}, OverflowError, "n_hidden"),
        ({"n_hidden": 4.0}, TypeError, "n_hidden"),
        ({"target_r": "0.5"}, TypeError, "target_r"),
        ({"lr": None}, TypeError, "lr"),
    ],
)
def test_constructor_conversion_errors(kwargs, exc, name):
    with pytest.raises(exc) as info:
        qk.PyActiveInferenceAgent(**kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize(
    "lr, kwargs, expected",
    [
        (1.0, {}, (0.0, 0.0)),
        (1.0, {"r_obs": 0.75}, (2.5, PI)),
        (1.0, {"r_obs": 0.25, "psi_obs": 1.0}, (2.5, 1.0)),
        (1.0, {"r_obs": 0.0}, (5.0, 0.0)),
        (2.0, {"r_obs": 0.0}, (5.0, 0.0)),
        (1.0, {"r_obs": 0.9}, (4.0, PI)),
        (1.0, {"psi_obs": 7.0}, (0.0, 7.0)),
        (1.0, {"psi_obs": -3.0}, (0.0, -3.0)),
        (1.0, {"r_obs": 0.75, "psi_obs": 6.0}, (2.5, 6.0 + PI - 2 * PI)),
        (0.5, {"r_obs": 0.6, "dt": 3.0}, (0.5, PI)),
    ],
)
def test_observed_path_worked_examples(lr, kwargs, expected):
    gain, psi = qk.PyActiveInferenceAgent(lr=lr).control(**kwargs)
    assert gain == pytest.approx(expected[0], abs=1e-15)
    assert psi == pytest.approx(expected[1], abs=1e-15)
    assert (gain, psi) == ref.control_observed(0.5, lr, kwargs.get("r_obs"), kwargs.get("psi_obs"))


def test_observed_path_nan():
    agent = qk.PyActiveInferenceAgent()
    gain, psi = agent.control(r_obs=NAN, psi_obs=2.0)
    assert math.isnan(gain) and psi == 2.0
    gain, psi = agent.control(r_obs=0.9, psi_obs=NAN)
    assert gain == pytest.approx(4.0) and math.isnan(psi)


@pytest.mark.parametrize(
    "phases, expected",
    [
        (np.zeros(3), (0.0, 0.0)),
        (np.array([]), (0.0, 0.0)),
        (np.array([0.1, NAN]), (0.0, 0.0)),
        (np.array([INF, 0.1]), (0.0, 0.0)),
    ],
)
def test_phase_path_simple_cases(phases, expected):
    assert qk.PyActiveInferenceAgent().control(phases, r_obs=0.0, psi_obs=1.0) == expected


def test_phase_path_half_cycle_pair():
    gain, psi = qk.PyActiveInferenceAgent().control(phases=np.array([0.0, PI]))
    assert gain < 5.0 and gain == pytest.approx(5.0)
    assert psi == pytest.approx(1.5 * PI)


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("target", [0.0, 0.3, 0.9, 1.0])
def test_phase_path_matches_reference(seed, target):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 50))
    phases = rng.normal(seed * 0.5, 0.3 + seed, n)
    agent = qk.PyActiveInferenceAgent(target_r=target, lr=3.0)
    assert agent.control(phases) == ref.control_phases(phases, target)


@pytest.mark.parametrize(
    "view",
    [
        lambda a: a[::2],
        lambda a: a[::-3],
        lambda a: np.frombuffer(b"\0" + a.tobytes(), dtype=np.float64, offset=1, count=a.size),
        lambda a: a[1:2],
    ],
)
def test_strided_and_misaligned_phases_are_read(view):
    base = np.random.default_rng(1).uniform(-1, 1, 21)
    phases = view(base)
    agent = qk.PyActiveInferenceAgent(target_r=1.0)
    assert agent.control(phases) == ref.control_phases(list(phases), 1.0)


@pytest.mark.parametrize(
    "kwargs, exc, name",
    [
        ({"phases": [0.0, 1.0]}, TypeError, "phases"),
        ({"phases": np.zeros(3, dtype=np.float32)}, TypeError, "phases"),
        ({"phases": np.zeros((2, 2))}, TypeError, "phases"),
        ({"r_obs": "x"}, TypeError, "r_obs"),
        ({"psi_obs": [1.0]}, TypeError, "psi_obs"),
        ({"dt": None}, TypeError, "dt"),
        ({"phases": np.zeros(2), "r_obs": "ignored but converted"}, TypeError, "r_obs"),
    ],
)
def test_control_conversion_errors(kwargs, exc, name):
    with pytest.raises(exc) as info:
        qk.PyActiveInferenceAgent().control(**kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_target_r_property():
    agent = qk.PyActiveInferenceAgent(target_r=0.25)
    assert agent.target_r == 0.25
    agent.target_r = 2.0
    assert agent.target_r == 2.0
    assert agent.control(np.array([0.3, 0.3]))[0] == 5.0
    agent.target_r = 1
    assert type(agent.target_r) is float
    agent.target_r = NAN
    for kwargs in ({"phases": np.array([0.2, 0.4])}, {"r_obs": 0.7, "psi_obs": 1.0}, {}):
        gain, psi = agent.control(**kwargs)
        assert math.isnan(gain)
        assert not math.isnan(psi) and psi < PI
    with pytest.raises(TypeError) as info:
        agent.target_r = "high"
    assert info.value.__notes__ == ["while processing 'val'"]
    assert math.isnan(agent.target_r)


def test_busy_agent_is_refused():
    agent = qk.PyActiveInferenceAgent()
    seen = []

    class Sneaky:
        def __float__(self):
            for call in (lambda: agent.control(), lambda: agent.target_r):
                try:
                    call()
                except RuntimeError as e:
                    seen.append(str(e))
            return 0.5

    assert agent.control(r_obs=Sneaky()) == (0.0, 0.0)
    assert seen == ["Already borrowed", "Already mutably borrowed"]


def test_signatures():
    assert str(inspect.signature(qk.PyActiveInferenceAgent)) == "(n_hidden=4, target_r=0.5, lr=1.0)"
    assert str(inspect.signature(qk.PyActiveInferenceAgent.control)) == (
        "(self, /, phases=None, r_obs=None, psi_obs=None, dt=0.0)"
    )
