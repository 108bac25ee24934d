"""The analyses against the peer a user would pick, one after another in one run: the area benchmarks that hold
those cases, each in its own interpreter (they pin CPUs and limit BLAS threads as they go). Peers that use NumPy's
BLAS run on one thread and on all threads, and the faster of the two is the peer.

    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE PYTHONPATH=build/dev .venv/bin/python bench/bench_peers.py
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# (script, arguments): basin stability, steady_state_r and the bisection against parallel Numba; RQA; ordinal
# codes and transition entropy; EDMD; the Fiedler value and vector and Hodge; the hypergraph; false nearest
# neighbours; the Lyapunov spectrum.
RUNS = [
    ("bench_bifurcation.py", []),
    ("bench_diagnostics.py", []),
    ("bench_sections_entropy.py", []),
    ("bench_koopman_edmd.py", []),
    ("bench_eigen.py", []),
    ("bench_hypergraph.py", []),
    ("bench_embedding.py", []),
]


def main():
    env = dict(os.environ)
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    print(f"load average {os.getloadavg()}, cores {len(os.sched_getaffinity(0))}", flush=True)
    failed = []
    for script, args in RUNS:
        print(f"\n# {script}", flush=True)
        if subprocess.run([sys.executable, os.path.join(HERE, script), *args], env=env).returncode != 0:
            failed.append(script)
    if failed:
        sys.exit(f"failed: {', '.join(failed)}")


if __name__ == "__main__":
    main()
