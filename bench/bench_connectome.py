"""The synthetic connectome against its plain-Python transcription (the test reference).

    python3 bench/bench_connectome.py
"""
import os
import sys

import qel_kernel as qk
from harness import compare, header

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from reference.connectome import load_hcp_connectome  # noqa: E402


def main():
    header("synthetic connectome")
    compare("load_hcp_connectome_rust n=1000 vs Python transcription", lambda: qk.load_hcp_connectome_rust(1000, 7),
            lambda: load_hcp_connectome(1000, 7), target=50, repeat=3)


if __name__ == "__main__":
    main()
