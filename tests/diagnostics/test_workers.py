"""Results on a pool of one worker (a subprocess pinned to one CPU) and on all of them."""
import os
import subprocess
import sys
import textwrap

import numpy as np

from reference import dimension as ref

RUN = """
import os, sys, numpy as np
if sys.argv[1] == "1":
    os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
import qel_kernel as qk
sys.path.insert(0, sys.argv[2])
from reference import sindy
rng = np.random.default_rng(11)
x = np.sin(0.03 * np.arange(4000)) + rng.normal(0, 0.2, 4000)
traj = rng.normal(size=700 * 3)
eps = np.linspace(0.1, 4.0, 9)
phases = sindy.kuramoto(rng.uniform(0.5, 2, 12), rng.uniform(0, 1, (12, 12)), rng.uniform(0, 6, 12), 0.01, 300)
out = [qk.delay_embed_rust(x, 3, 5), [qk.optimal_delay_rust(x, 100, 64), qk.optimal_dimension_rust(x[:1500], 5, 6)],
       qk.correlation_integral_rust(traj, 700, 3, eps, 10**6), qk.sindy_fit_rust(phases.ravel(), 12, 300, 0.01, 0.2, 4),
       qk.correlation_integral_rust(traj, 700, 3, eps, 3000, 5)]
sys.stdout.write(" ".join(np.asarray(o, dtype=float).tobytes().hex() for o in out))
"""


def test_one_worker_and_all_agree_and_the_sample_follows_the_pool():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    one, every = (subprocess.run([sys.executable, "-c", textwrap.dedent(RUN), k, here], env=env, capture_output=True,
                                 text=True, check=True).stdout.split() for k in ("1", "all"))
    assert one[:4] == every[:4]
    traj = np.random.default_rng(11)
    traj.normal(0, 0.2, 4000)
    traj = traj.normal(size=700 * 3)
    eps = np.linspace(0.1, 4.0, 9)
    assert bytes.fromhex(one[4]) == np.array(ref.correlation_sampled(traj, 700, 3, eps, 3000, 5, 1)).tobytes()
    assert bytes.fromhex(every[4]) == np.array(
        ref.correlation_sampled(traj, 700, 3, eps, 3000, 5, len(os.sched_getaffinity(0)))).tobytes()
