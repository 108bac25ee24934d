#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine with Python 3.11: installs what
# the build and the tests need, builds and installs the module, runs the suite,
# then runs it again against a build with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

echo "== build and install"
python3 -m pip install -q --disable-pip-version-check --no-build-isolation .

echo "== test suite"
# Run from tests/ so that the installed module, not the source tree, is imported.
(cd tests && QEL_EXPECT_BUILD=installed python3 -m pytest -p no:cacheprovider .)

echo "== sanitizer build"
./scripts/dev-build.sh build/asan -DQEL_SANITIZE=ON
echo "== test suite under AddressSanitizer and UBSan"
(cd tests && QEL_EXPECT_BUILD="$PWD/../build/asan" PYTHONPATH="$PWD/../build/asan" \
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  python3 -m pytest -p no:cacheprovider .)
