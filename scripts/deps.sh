# Sourced by the test and demo commands. Installs the Debian packages that the
# build needs (only those missing), and keeps the project's Python packages in
# the virtual environment .venv, so that the system interpreter's packages are
# never touched. Defines PY (the environment's interpreter) and two functions:
#   qel_python_packages PKG...   install what is missing of these into .venv
#   qel_install_module [-DVAR=VALUE...]   build and install the module into .venv,
#                                         skipped when the installed one is current
# The module is built in build/venv, which later runs reuse.

qel_root=$PWD
PY=$qel_root/.venv/bin/python
export PATH="$qel_root/.venv/bin:$PATH"

qel_apt_install() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing Debian packages: ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
}

qel_apt_install g++ libtbb-dev libeigen3-dev libicu-dev libopenblas-serial-dev
# The formatter the test command checks the C++ sources with: one version, so
# that every machine formats alike.
QEL_CLANG_FORMAT=clang-format-16

if ! python3 -c 'import sys; sys.exit(sys.version_info < (3, 11))'; then
  echo "error: python3 is $(python3 -V 2>&1); qel_kernel needs Python 3.11 or newer" >&2
  exit 1
fi

# A usable environment has an interpreter with pip; Debian's python3 needs its
# venv package for that.
if ! "$PY" -m pip --version >/dev/null 2>&1; then
  rm -rf .venv
  if ! python3 -m venv .venv >/dev/null 2>&1; then
    rm -rf .venv
    qel_apt_install python3-venv
    python3 -m venv .venv
  fi
  echo "== created the virtual environment .venv ($("$PY" -V))"
fi

qel_python_packages() {
  # .venv/qel-packages lists the requirements installed so far.
  local stamp=.venv/qel-packages missing=() r
  touch "$stamp"
  for r in "$@"; do
    grep -qxF -- "$r" "$stamp" || missing+=("$r")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing into .venv: ${missing[*]}"
  "$PY" -m pip install -q --disable-pip-version-check "${missing[@]}"
  printf '%s\n' "${missing[@]}" >>"$stamp"
}

qel_python_packages "scikit-build-core>=0.10" "cmake>=3.21" ninja "numpy>=1.23" "scipy>=1.10" "pytest>=7" \
  "markdown-it-py>=3"

qel_install_module() {
  # The installed module is current when the sources, the build files, the
  # cmake definitions and the interpreter are those of the last install.
  local key defines=() d
  key=$({ find src -type f -print0 | sort -z | xargs -0 sha256sum
          sha256sum CMakeLists.txt pyproject.toml
          "$PY" -VV
          echo "$@"; } | sha256sum | cut -d' ' -f1)
  if [ "$(cat .venv/qel_kernel.stamp 2>/dev/null)" = "$key" ] && (cd / && "$PY" -c 'import qel_kernel') 2>/dev/null; then
    echo "== qel_kernel in .venv is current"
    return 0
  fi
  for d in "$@"; do
    defines+=("--config-settings=cmake.define.${d#-D}")
  done
  echo "== build and install qel_kernel into .venv"
  [ -f build/venv/build.ninja ] ||
    echo "   The first build compiles the whole module and takes a few minutes; later runs reuse build/venv."
  rm -f .venv/qel_kernel.stamp
  mkdir -p build
  # pip -v passes on the compiler's progress, which pip alone hides behind
  # "still running..."; the progress lines are shown, the whole output is kept.
  local rc
  set +e
  "$PY" -m pip install -v --disable-pip-version-check --no-build-isolation --no-deps \
    --config-settings=build-dir=build/venv "${defines[@]}" . 2>&1 | tee build/venv-install.log |
    grep --line-buffered -E '^ *\[[0-9]+/[0-9]+\] |^Successfully installed'
  rc=${PIPESTATUS[0]}
  set -e
  if [ "$rc" -ne 0 ]; then
    tail -n 60 build/venv-install.log >&2
    echo "error: building qel_kernel failed; the whole output is in build/venv-install.log" >&2
    exit "$rc"
  fi
  echo "$key" >.venv/qel_kernel.stamp
}
