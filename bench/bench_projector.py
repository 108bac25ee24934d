"""Action projector against the same projection written in Python."""
import math
import os
import sys

import qel_kernel as qk
from harness import compare, header

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from reference.projector import project as py_project  # noqa: E402


def main():
    header("action projector")
    p = qk.PyActionProjector({"K": 0.1}, {"K": (0.0, 1.0)})
    compare("project, rate and bounds", lambda: p.project("K", 0.9, 0.5),
            lambda: py_project(0.1, (0.0, 1.0), 0.9, 0.5), 1)
    compare("project vs math.hypot(3, 4)", lambda: p.project("K", 0.9, 0.5), lambda: math.hypot(3.0, 4.0), 0.25)


if __name__ == "__main__":
    main()
