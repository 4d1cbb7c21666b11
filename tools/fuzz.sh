#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz/ with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer (in build-fuzz/) and runs
# them.
#   tools/fuzz.sh TARGET [SECONDS]   one target, 300 seconds unless given
#   tools/fuzz.sh --all SECONDS      every target, SECONDS each
#   tools/fuzz.sh --list             the targets
# A run starts from the target's seed corpus (tests/fuzz/corpus/TARGET) and
# the inputs of past findings (tests/fuzz/regressions/TARGET).  A run of one
# target also keeps what the fuzzer learns in build-fuzz/corpus/TARGET and
# starts from it the next time; --all (the CI step) starts from the seeds
# alone each time, so that its time stays what was asked for.  A finding
# stops the run with status 1 and leaves its input in
# build-fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The targets are the fasogram_fuzz_target lines of tests/fuzz/CMakeLists.txt.
targets=$(sed -n 's/^fasogram_fuzz_target(\([a-z0-9_]*\) .*/\1/p' tests/fuzz/CMakeLists.txt)

usage() {
  echo "usage: tools/fuzz.sh TARGET [SECONDS] | --all SECONDS | --list" >&2
  echo "targets: $(echo $targets)" >&2
  exit 2
}

[ $# -ge 1 ] || usage
fresh=0
case "$1" in
  --list) echo "$targets"; exit 0 ;;
  --all) [ $# -eq 2 ] || usage; run=$targets; seconds=$2; fresh=1 ;;
  -*) usage ;;
  *) echo "$targets" | grep -qx -- "$1" || usage; run=$1; seconds=${2:-300} ;;
esac
case "$seconds" in ''|*[!0-9]*) usage ;; esac

# clang and its fuzzing runtime come from Debian's packages (tools/setup.sh).
fuzzer_links() {
  command -v clang++ >/dev/null &&
    echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /dev/null 2>/dev/null
}
fuzzer_links || tools/setup.sh

build=build-fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DFASOGRAM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" -j "$jobs" --target $(for t in $run; do echo "fuzz_$t"; done)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
unset DISPLAY # a screen window would wait for a mouse click

status=0
for t in $run; do
  corpus=$root/$build/corpus/$t
  if [ $fresh = 1 ]; then
    corpus=$root/$build/corpus-all/$t
    rm -rf "$corpus"
  fi
  findings=$root/$build/findings/$t
  mkdir -p "$corpus" "$findings"
  seeds=("$root/tests/fuzz/corpus/$t")
  [ -d "$root/tests/fuzz/regressions/$t" ] && seeds+=("$root/tests/fuzz/regressions/$t")
  # The fuzzer ends without running exit handlers, so a target's scratch
  # files are left behind: they go to a directory of their own, removed here.
  export TMPDIR=$root/$build/tmp/$t
  rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
  echo "== fuzz_$t for $seconds s"
  # The outer time limit is a safety net should the fuzzer itself hang.  An
  # input may take its time: the plot target under the sanitizers spends up
  # to half a minute on inputs that draw a few hundred thousand dotted grid
  # lines (the library's limit of marks on an axis), so a unit counts as hung
  # after 90 seconds.
  if ! timeout --signal=KILL $((seconds + 120)) \
      "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=90 -rss_limit_mb=2560 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" "${seeds[@]}" </dev/null 2>"$build/fuzz_$t.log"; then
    status=1
    tail -n 60 "$build/fuzz_$t.log" >&2
    echo "== fuzz_$t: FINDING (inputs in $findings/, log in $build/fuzz_$t.log)" >&2
    continue
  fi
  rm -rf "$TMPDIR"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz_$t.log")
  echo "== fuzz_$t: no finding, ${runs:-?} inputs run"
done
exit $status
