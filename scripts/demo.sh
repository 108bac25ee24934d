#!/usr/bin/env bash
# The closed-loop demo on a fresh Debian machine with Python 3.11 or newer: installs
# what it needs (Python packages into .venv), builds and installs the module into
# .venv unless the installed one is current, and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
qel_python_packages "matplotlib>=3.6"
qel_install_module
cd examples && "$PY" closed_loop.py "$@"
