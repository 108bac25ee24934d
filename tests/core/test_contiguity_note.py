"""A strided or misaligned array is refused with the fixed message; the note
names the parameter and the copy that the call accepts."""
import numpy as np
import pytest

import qel_kernel as qk

MESSAGE = "The given array is not contiguous or is misaligned."


def column():
    return np.arange(12.0).reshape(6, 2)[:, 0]  # what X[:, 0] of a (T, d) array gives


def reversed_series():
    return np.arange(8.0)[::-1]  # negative strides, as from scipy.signal.filtfilt


# One function of each subsystem that takes arrays: (call, parameter, message).
CASES = [
    (lambda x: qk.order_parameter(x), "phases", MESSAGE),
    (lambda x: qk.extract_phases_rust(x, 8.0), "signal", MESSAGE),
    (lambda x: qk.PySplittingStepper(3).step(x, np.zeros(3), np.zeros(9), np.zeros(9), 0.0, 0.0), "phases",
     "phases not contiguous"),
    (lambda x: qk.fiedler_value_rust(x, 2), "knm", MESSAGE),
    (lambda x: qk.optimal_delay_rust(x), "signal", MESSAGE),
]


@pytest.mark.parametrize("make", [column, reversed_series], ids=["column", "reversed"])
@pytest.mark.parametrize("call, name, message", CASES, ids=["order", "phase", "oscillators", "spectral", "embedding"])
def test_strided_array_note_names_parameter_and_remedy(call, name, message, make):
    x = make()[:3] if message == "phases not contiguous" else make()
    with pytest.raises(ValueError) as info:
        call(x)
    assert str(info.value) == message
    assert info.value.__notes__ == [
        f"while processing '{name}': np.ascontiguousarray({name}) makes a copy that this function accepts"]
    call(np.ascontiguousarray(x))  # the remedy works


def test_misaligned_array_note_suggests_an_aligned_copy():
    raw = np.zeros(8 * 8 + 1, dtype=np.uint8)
    x = raw[1:].view(np.float64)  # contiguous, but one byte off
    assert not x.flags.aligned
    with pytest.raises(ValueError) as info:
        qk.optimal_delay_rust(x)
    assert str(info.value) == MESSAGE
    assert info.value.__notes__ == [
        "while processing 'signal': the array is misaligned; signal.copy() makes an aligned copy that this "
        "function accepts"]
    assert qk.optimal_delay_rust(x.copy()) == qk.optimal_delay_rust(np.zeros(8))

