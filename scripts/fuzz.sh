#!/usr/bin/env bash
# Fuzz campaign: builds the libFuzzer targets with clang (installing Debian's
# clang when it is missing) and runs each one for the given time, seeded with
# the shared corpora, then prints executions, coverage and findings per target.
#
#   scripts/fuzz.sh [seconds]        default 60 seconds per target
#
# Environment:
#   JOBS          targets fuzzed at once, one worker each (default 3)
#   FUZZ_TARGETS  space-separated subset of targets (default: all)
#   FUZZ_MAX_LEN  libFuzzer -max_len (default 16384)
#
# New corpus entries are kept in build/fuzz/corpus/<target> and reused by the
# next run; crashes, leaks, timeouts and out-of-memory inputs land in
# build/fuzz/findings/<target>/. A finding becomes a regression case under
# tests/; CI only replays (scripts/test.sh --sanitize).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_PER_TARGET=${1:-60}
JOBS=${JOBS:-3}
MAX_LEN=${FUZZ_MAX_LEN:-16384}
B=build/fuzz
SEEDS=()
for d in ../shared/yaml-test-suite ../shared/corpus; do
  [ -d "$d" ] && SEEDS+=("$ROOT/$d")
done

if ! command -v clang++ >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" != "0" ] && command -v sudo >/dev/null 2>&1; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq clang
fi

CXX=clang++ cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DQUILLFERN_FUZZ=ON \
  -DQUILLFERN_BUILD_MODULE=OFF -DQUILLFERN_BUILD_TESTS=OFF >/dev/null
cmake --build "$B" -j "$JOBS" --target fuzz_targets

targets=()
if [ -n "${FUZZ_TARGETS:-}" ]; then
  for t in $FUZZ_TARGETS; do targets+=("$B/$t"); done
else
  for t in "$B"/*_fuzz; do [ -x "$t" ] && targets+=("$t"); done
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"

# One worker per target, in libFuzzer's fork mode so that a finding is saved
# and the campaign goes on instead of stopping at the first one.
run_target() {
  local t=$1 name
  name=$(basename "$t")
  mkdir -p "$B/corpus/$name" "$B/findings/$name"
  # -rss_limit_mb stays below the 4 GiB the hostile-input table allows a call.
  "$t" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=3072 -max_len="$MAX_LEN" \
    -artifact_prefix="$B/findings/$name/" \
    "$B/corpus/$name" "${SEEDS[@]}" >"$B/$name.log" 2>&1 || true
}

echo "fuzzing ${#targets[@]} target(s) for ${SECONDS_PER_TARGET}s each, $JOBS at once; logs in $B/<target>.log"
running=0
for t in "${targets[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
printf '%-18s %14s %10s %10s %9s\n' target executions coverage features findings
for t in "${targets[@]}"; do
  name=$(basename "$t")
  log="$B/$name.log"
  # Fork mode reports "#<executions>: cov: <edges> ft: <features> ..." lines.
  execs=$(sed -n 's/^#\([0-9]*\): cov:.*/\1/p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  found=$(find "$B/findings/$name" -type f | wc -l)
  printf '%-18s %14s %10s %10s %9s\n' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$found"
  if [ "$found" != 0 ]; then
    status=1
    find "$B/findings/$name" -type f | sed 's/^/    /'
  fi
done
exit $status
