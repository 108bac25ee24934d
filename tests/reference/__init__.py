"""Pure-Python and NumPy references written from the mathematics, one module per area."""
MASK64 = (1 << 64) - 1


def mmix(state):
    """The next state of the MMIX linear congruential generator."""
    return (state * 6364136223846793005 + 1442695040888963407) & MASK64
