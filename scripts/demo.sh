#!/usr/bin/env bash
# The closed-loop demo on a fresh Debian machine with Python 3.11: installs what
# it needs, builds and installs the module with its plotting extra, and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
QEL_EXTRA_PIP="matplotlib>=3.6" source scripts/deps.sh
python3 -m pip install -q --disable-pip-version-check --no-build-isolation ".[plot]"
cd examples && python3 closed_loop.py "$@"
