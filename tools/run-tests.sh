#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite.
#   tools/run-tests.sh             normal build in build/
#   tools/run-tests.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-san/
set -euo pipefail
cd "$(dirname "$0")/.."

"$PWD/tools/setup.sh"

build=build
# The Python module is built and tested in the normal build; the sanitizer
# build leaves it out (an instrumented extension does not load into Python).
flags=(-DFASOGRAM_PYTHON=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-san
  flags=(-DFASOGRAM_SANITIZE=ON -DFASOGRAM_BENCH=OFF -DFASOGRAM_PYTHON=OFF)
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$jobs" </dev/null
