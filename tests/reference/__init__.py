"""Pure-Python and NumPy references written from the mathematics, one module per area."""
