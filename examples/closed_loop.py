"""A layered network of phase oscillators, steered by the supervisor.

Four layers of 32 oscillators start incoherent. Every cycle the loop
  1. integrates the network for a while with PyUPDEStepper.run,
  2. measures each layer's R (layer_coherence) and the global order parameter,
  3. checks the declared bounds with PyBoundaryObserver,
  4. asks PySupervisorPolicy.decide for control actions (a PyRegimeManager
     beside it shows the regime the same measurements propose),
  5. clamps every new knob value with PyActionProjector.project, and
  6. applies the result to the coupling, the drive strength and the drive phase
     of the next cycle.

Run:  python3 closed_loop.py [--cycles N] [--plot PATH] [--no-plot]
"""
import argparse
import math
import os
import sys

import numpy as np

import qel_kernel as qk

LAYERS = 4
PER_LAYER = 32
N = LAYERS * PER_LAYER
DT = 0.02
STEPS_PER_CYCLE = 50
CROSS_LAYER = 0.3  # coupling between layers, relative to coupling within one

# Knob limits: the projector keeps every new value inside these bounds and
# moves it at most this far per cycle.
BOUNDS = {"K": (0.0, 3.0), "zeta": (0.0, 1.0), "Psi": (0.0, 2 * math.pi)}
RATES = {"K": 0.1, "zeta": 0.1, "Psi": 1.0}
# Declared bounds on the measurements: a collapsed global R is a hard violation.
BOUNDARIES = [
    ("global sync floor", "R", 0.15, None, "hard"),
    ("layer spread", "R_spread", None, 0.4, "soft"),
]


def layer_indices(layer):
    return list(range(layer * PER_LAYER, (layer + 1) * PER_LAYER))


def layer_k(k_global, k_layer_offsets):
    """The coupling strength each layer receives: the global K plus its own offset."""
    return np.maximum(k_global + k_layer_offsets, 0.0)


def build_coupling(k_global, k_layer_offsets):
    """Row-major n*n coupling: strong inside a layer, weaker across layers."""
    layer_of = np.repeat(np.arange(LAYERS), PER_LAYER)
    same = layer_of[:, None] == layer_of[None, :]
    k_rows = layer_k(k_global, k_layer_offsets)[layer_of]
    knm = np.where(same, 1.0, CROSS_LAYER) * k_rows[:, None] / N
    return knm.ravel()


def apply_action(action, knobs, projector):
    """Turns one policy action into a new knob value, clamped by the projector."""
    knob, scope, delta = action["knob"], action["scope"], action["value"]
    if knob == "K" and scope.startswith("layer_"):
        layer = int(scope.split("_", 1)[1])
        base = knobs["K"]
        prev = base + knobs["K_layer"][layer]
        new = projector.project("K", prev + delta, prev)
        knobs["K_layer"][layer] = new - base
        return f"K[layer {layer}] {prev:.3f}->{new:.3f}", ("K", new, prev)
    key = knob
    prev = knobs[key]
    new = projector.project(knob, prev + delta, prev)
    knobs[key] = new
    return f"{knob} {prev:.3f}->{new:.3f}", (knob, new, prev)


def run_loop(cycles=40, seed=7, cooldown=4):
    """Runs the loop; returns one record per cycle and the regime manager's log."""
    rng = np.random.default_rng(seed)
    phases = rng.uniform(0.0, 2 * math.pi, N)
    omegas = rng.normal(0.0, 0.5, N)  # a rotating frame: the drive phase is near-stationary
    alpha = np.zeros(N * N)

    stepper = qk.PyUPDEStepper(N, dt=DT, method="rk4")
    observer = qk.PyBoundaryObserver()
    policy = qk.PySupervisorPolicy(hysteresis=0.05, cooldown_steps=cooldown)
    manager = qk.PyRegimeManager(hysteresis=0.05, cooldown_steps=cooldown)
    projector = qk.PyActionProjector(RATES, {k: tuple(v) for k, v in BOUNDS.items()})

    knobs = {"K": 0.4, "K_layer": np.zeros(LAYERS), "zeta": 0.0, "Psi": 0.0}
    history = []
    # Cycles count from 1, as the regime manager counts its transition
    # requests (one per cycle): the transition at step s happened in cycle s.
    for cycle in range(1, cycles + 1):
        knm = build_coupling(knobs["K"], knobs["K_layer"])
        phases = stepper.run(phases, omegas, knm, knobs["zeta"], knobs["Psi"], alpha, STEPS_PER_CYCLE)

        layer_rs = [qk.layer_coherence(phases, layer_indices(i)) for i in range(LAYERS)]
        r_global, psi_global = qk.order_parameter(phases)
        metrics = {"R": r_global, "R_spread": max(layer_rs) - min(layer_rs)}
        bounds = observer.observe(BOUNDARIES, metrics)
        hard = bounds["hard_violations"]

        manager.transition(manager.evaluate(layer_rs, hard))
        actions = policy.decide(layer_rs, hard)

        applied, projections = [], []
        for action in actions:
            text, proj = apply_action(action, knobs, projector)
            applied.append(text)
            projections.append(proj)
        # The drive pulls towards the network's own mean phase, moved no faster
        # than the projector allows.
        prev_psi = knobs["Psi"]
        knobs["Psi"] = projector.project("Psi", psi_global, prev_psi)
        projections.append(("Psi", knobs["Psi"], prev_psi))

        history.append({
            "cycle": cycle,
            "time": cycle * STEPS_PER_CYCLE * DT,
            "regime": manager.current,
            "R": r_global,
            "layer_rs": layer_rs,
            "K": knobs["K"],
            "layer_k": layer_k(knobs["K"], knobs["K_layer"]),
            "zeta": knobs["zeta"],
            "Psi": knobs["Psi"],
            "violations": bounds["violations"],
            "actions": applied,
            "projections": projections,
        })
    return history, manager.transition_log


def print_table(history, log):
    print(f"{'cycle':>5} {'regime':<9} {'R':>6}  {'layer R':<27} {'layer K':<27} {'zeta':>6}  actions")
    for h in history:
        rs = " ".join(f"{r:.3f}" for r in h["layer_rs"])
        ks = " ".join(f"{k:.3f}" for k in h["layer_k"])
        acts = "; ".join(h["actions"]) if h["actions"] else "-"
        print(f"{h['cycle']:>5} {h['regime']:<9} {h['R']:6.3f}  {rs:<27} {ks:<27} {h['zeta']:6.3f}  {acts}")
    print("\nTransition log (step = cycle, from, to):")
    for step, old, new in log:
        print(f"  step {step:>3}: {old} -> {new}")
    last = history[-1]
    ks = ", ".join(f"{k:.3f}" for k in last["layer_k"])
    print(f"\nFinal: regime {last['regime']}, R = {last['R']:.3f}, K per layer = {ks}, zeta = {last['zeta']:.3f}")


# Pale regime shading behind the lines; the lines take dark hues that none of
# the shades has (no green, yellow, blue or red), so every line stands out on
# every regime it crosses.
REGIME_COLOURS = {"nominal": "#d8f0d8", "degraded": "#fff2c2", "recovery": "#d6e6fb", "critical": "#f8d0d0"}
LAYER_COLOURS = ["#6a3d9a", "#8c510a", "#c51b7d", "#525252"]
# Layers often share one K (layers 0 and 2, 1 and 3 here): in the knob panel
# layers 0 and 1 are wide solid lines, and layers 2 and 3, drawn over them, a
# narrower dashed line and a thin line with white-edged dots, so a coinciding
# wide line shows at their edges and through their gaps.
LAYER_K_STYLES = [
    dict(lw=3.6),
    dict(lw=3.6),
    dict(lw=2.0, ls=(0, (3.5, 3.5)), dash_capstyle="butt"),
    dict(lw=1.0, marker="o", ms=4.0, mec="white", mew=0.7),
]


def save_plot(history, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    cycles = [h["cycle"] for h in history]
    fig, (ax_r, ax_k) = plt.subplots(2, 1, figsize=(9, 6.5), sharex=True, gridspec_kw={"height_ratios": [3, 2]})
    # Each cycle's regime is shaded around its point, so a point lies in the
    # regime the table and the transition log give for its cycle.
    for h in history:
        for ax in (ax_r, ax_k):
            ax.axvspan(h["cycle"] - 0.5, h["cycle"] + 0.5, color=REGIME_COLOURS[h["regime"]], lw=0)
    for i in range(LAYERS):
        ax_r.plot(cycles, [h["layer_rs"][i] for h in history], color=LAYER_COLOURS[i], lw=1.2, label=f"layer {i}")
        ax_k.plot(cycles, [h["layer_k"][i] for h in history], color=LAYER_COLOURS[i], label=f"K layer {i}",
                  **LAYER_K_STYLES[i])
    ax_r.plot(cycles, [h["R"] for h in history], color="black", lw=2.2, label="global")
    ax_r.set_ylim(0, 1.02)
    ax_r.set_ylabel("order parameter R")
    shades = [plt.Rectangle((0, 0), 1, 1, color=c) for c in REGIME_COLOURS.values()]
    lines, names = ax_r.get_legend_handles_labels()
    ax_r.legend(shades + lines, list(REGIME_COLOURS) + names, loc="lower right", fontsize=7, ncol=3)
    ax_k.plot(cycles, [h["zeta"] for h in history], color="black", lw=1.4, ls="--", label="zeta (drive)")
    ax_k.set_ylabel("knob value")
    ax_k.set_xlabel(f"cycle ({STEPS_PER_CYCLE} steps of dt = {DT}); the transition log's steps are cycles")
    ax_k.set_xlim(cycles[0] - 0.5, cycles[-1] + 0.5)
    ax_k.legend(loc="lower right", fontsize=7, ncol=5)
    fig.suptitle("Closed loop: UPDE network steered by the supervisor")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cycles", type=int, default=40)
    parser.add_argument("--plot", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "closed_loop.png"))
    parser.add_argument("--no-plot", action="store_true")
    args = parser.parse_args(argv)

    history, log = run_loop(args.cycles)
    print_table(history, log)
    if not args.no_plot:
        try:
            save_plot(history, args.plot)
            print(f"Plot saved to {args.plot}")
        except ImportError:
            print("matplotlib is not installed: no plot (pip install 'qel_kernel[plot]')")
    return 0


if __name__ == "__main__":
    sys.exit(main())
