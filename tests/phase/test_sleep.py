"""Sleep-stage codes and the ultradian phase."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import signal as ref


@pytest.mark.parametrize("r", [0.7, 0.69, 0.4, 0.3, 0.25, 0.2, 0.1, math.nan])
@pytest.mark.parametrize("desync", [False, np.bool_(True)])
def test_classification_table(r, desync):
    assert qk.classify_sleep_stage_rust(r, desync) == ref.classify_sleep_stage(r, bool(desync))


@pytest.mark.parametrize("bad", [1, None])
def test_flag_must_be_a_bool(bad):
    with pytest.raises(TypeError):
        qk.classify_sleep_stage_rust(0.5, bad)


@pytest.mark.parametrize("ts, stages, expect", [
    ([0, 2700, 5400, 8100], [3, 1, 1, 2], 0.5),
    ([0, 100, 700], [3, 3, 1], 600 / 5400),
    ([0, 100, 700], [1, 2, 4], 0.0),
    ([0, 100], [3, 1, 3], 100 / 5400),            # a stage 3 beyond the shorter length is ignored
    ([900, 100], [3, 1], math.fmod(-800, 5400) / 5400),
    ([], [3], 0.0),
    ([0, math.nan], [3, 1], math.nan),
])
def test_ultradian_phase(ts, stages, expect):
    got = qk.ultradian_phase_rust(np.array(ts, dtype=float), np.array(stages, dtype=np.uint8))
    assert got == expect or (math.isnan(got) and math.isnan(expect))

