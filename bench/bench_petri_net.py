"""Petri net steps against the same firing rule written in Python."""
import os
import sys

import qel_kernel as qk
from harness import compare, header

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from reference import petri_net as ref  # noqa: E402


def chain(n):
    places = [f"p{i}" for i in range(n)]
    transitions = [(f"t{i}", [(places[i], 1)], [(places[i + 1], 1)], "R > 0.5" if i % 2 else None)
                   for i in range(n - 1)]
    return places, transitions


def main():
    header("Petri net")
    for n in (4, 200):
        places, transitions = chain(n)
        net = qk.PyPetriNet(places, transitions)
        tokens = {places[-2]: 1, places[-1]: 3}
        ctx = {"R": 0.9}
        compare(f"step, chain of {n} places, last transition fires", lambda: net.step(tokens, ctx),
                lambda: ref.step(places, transitions, tokens, ctx), 1)
        compare(f"enabled, chain of {n} places", lambda: net.enabled(tokens, ctx),
                lambda: ref.enabled(transitions, tokens, ctx), 1)


if __name__ == "__main__":
    main()
