#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine with Python 3.11 or newer: installs
# what the build and the tests need (Python packages into .venv), builds and
# installs the module into .venv, runs the suite, the guide's examples and the
# C++ tests, then all of them again against an AddressSanitizer + UBSan build.
# With QEL_WERROR=ON (the default when CI is set), both builds treat compiler
# warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

defines=()
[ "${QEL_WERROR:-${CI:+ON}}" = ON ] && defines+=(-DQEL_WERROR=ON)

# pytest's exit code 5 means it collected nothing: that is a failure here.
run_pytest() {
  local rc=0
  "$PY" -m pytest -p no:cacheprovider "$@" || rc=$?
  if [ "$rc" -eq 5 ]; then
    echo "error: pytest found no tests in: $*" >&2
    exit 1
  fi
  [ "$rc" -eq 0 ] || exit "$rc"
}

# CTest, when the build directory declares tests.
run_ctest() {
  local total
  [ -f "$1/CTestTestfile.cmake" ] || return 0
  total=$(ctest --test-dir "$1" -N | sed -n 's/^Total Tests: *//p')
  [ "${total:-0}" -gt 0 ] || return 0
  echo "== C++ tests in $1"
  ctest --test-dir "$1" --output-on-failure
}

# The C++ sources must be as the pinned formatter writes them.
qel_apt_install "$QEL_CLANG_FORMAT"
echo "== formatting"
find src tests/cxx -name '*.cpp' -o -name '*.hpp' | sort | xargs "$QEL_CLANG_FORMAT" --dry-run --Werror

qel_install_module "${defines[@]}"

echo "== test suite"
# Run from tests/ so that the installed module, not the source tree, is imported.
(cd tests && QEL_EXPECT_BUILD=installed run_pytest .)
echo "== the guide's examples"
run_pytest --doctest-glob="*.md" docs
run_ctest build/venv

echo "== sanitizer build (the first one takes a few minutes)"
./scripts/dev-build.sh build/asan -DQEL_SANITIZE=ON "${defines[@]}"
echo "== test suite under AddressSanitizer and UBSan"
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
asan_env=(QEL_EXPECT_BUILD="$PWD/build/asan" PYTHONPATH="$PWD/build/asan"
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)")
(cd tests && export "${asan_env[@]}" && run_pytest .)
(export "${asan_env[@]}" && run_pytest --doctest-glob="*.md" docs)
run_ctest build/asan
echo "== all tests passed"
