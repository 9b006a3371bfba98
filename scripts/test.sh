#!/usr/bin/env bash
# Runs the whole test suite: the C++ unit tests through ctest, then pytest.
#
#   scripts/test.sh               release build (the installed module)
#   scripts/test.sh --sanitize    the same suites against an AddressSanitizer +
#                                 UndefinedBehaviorSanitizer build (build/asan),
#                                 plus a replay of the fuzz targets
#   scripts/test.sh --python PY   the pytest suite on another interpreter: PY
#                                 makes a venv in build/venv-<version> (kept
#                                 for the next run), quillfern is built and
#                                 installed there, then tested
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

usage() { echo "usage: $0 [--sanitize | --python INTERPRETER]" >&2; exit 2; }
SANITIZE=0
OTHER_PY=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) SANITIZE=1 ;;
    --python) [ $# -ge 2 ] || usage; OTHER_PY=$2; shift ;;
    *) usage ;;
  esac
  shift
done
[ "$SANITIZE" = 1 ] && [ -n "$OTHER_PY" ] && usage

if [ -n "$OTHER_PY" ]; then
  # The C++ core does not depend on the interpreter: its tests run with the
  # default one. The venv has only what setup.sh installs into it.
  version=$("$OTHER_PY" -c 'import platform; print(platform.python_version())')
  VENV=build/venv-$version
  [ -x "$VENV/bin/python" ] || "$OTHER_PY" -m venv "$VENV"
  PYTHON=$VENV/bin/python CMAKE_BUILD_PARALLEL_LEVEL=$JOBS bash scripts/setup.sh
  echo "== pytest on CPython $version ($VENV)"
  "$VENV/bin/python" -m pytest -q tests
  exit 0
fi

if [ "$SANITIZE" = 0 ]; then
  cmake -S . -B build/cpp-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLFERN_BUILD_TESTS=ON -DQUILLFERN_BUILD_MODULE=OFF -DQUILLFERN_BUILD_FFI_TESTS=ON \
    -DQUILLFERN_CARGO_TARGET_DIR=build/cargo >/dev/null
  cmake --build build/cpp-tests -j "$JOBS"
  if ls build/cpp-tests/test_* >/dev/null 2>&1; then
    ctest --test-dir build/cpp-tests --output-on-failure -j "$JOBS"
  fi

  $PY -m pytest -q tests
  exit 0
fi

# ---- sanitizer suite ------------------------------------------------------
# One build tree holds the sanitized module, the C++ tests and the fuzz replay
# drivers. The module is installed into build/asan/stage next to a copy of the
# pure-Python package and imported from there through PYTHONPATH, so the
# release install in site-packages is never touched.
ROOT=$(pwd)
B=build/asan
STAGE=$ROOT/$B/stage
# The real interpreter, not a launcher shim: LD_PRELOAD has to reach it.
PYX=$($PY -c 'import sys; print(sys.executable)')

cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DQUILLFERN_SANITIZE=ON -DQUILLFERN_BUILD_MODULE=ON -DQUILLFERN_BUILD_TESTS=ON \
  -DQUILLFERN_BUILD_FFI_TESTS=ON -DQUILLFERN_FUZZ=ON -DPython_EXECUTABLE="$PYX" \
  -DQUILLFERN_CARGO_TARGET_DIR=build/cargo >/dev/null
cmake --build "$B" -j "$JOBS"

rm -rf "$STAGE"
mkdir -p "$STAGE/quillfern"
cp python/quillfern/*.py "$STAGE/quillfern/"
cmake --install "$B" --prefix "$STAGE" >/dev/null
cp scripts/sanitizer_site/*.py "$STAGE/"

# The interpreter is not sanitized, so the runtime has to be loaded before it
# starts; it must be the runtime of the compiler that built the module.
CXX_BIN=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$B/CMakeCache.txt")
ASAN_RT=$("$CXX_BIN" -print-file-name=libasan.so)
UBSAN_RT=$("$CXX_BIN" -print-file-name=libubsan.so)
PRELOAD="$ASAN_RT $UBSAN_RT"

# Leak detection stays on. scripts/lsan.supp lists only leaks of the
# interpreter or third-party modules; sanitizer_site/sitecustomize.py pauses
# tracking while numpy initialises (see there).
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=0:check_initialization_order=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
# Tests with long random loops read this to run fewer iterations (the same
# checks) at sanitizer speed.
export QUILLFERN_SANITIZED=1

# PYTHONMALLOC=malloc puts every Python object on the sanitized heap, so reads
# past the end of an input str/bytes buffer are caught too (and the embedded
# interpreter of the frame's C++ tests keeps no live objects in unscanned arenas).
export PYTHONMALLOC=malloc

# Every phase runs even when an earlier one fails; the exit status says whether
# all passed.
failed=()
echo "== C++ tests (sanitized)"
ctest --test-dir "$B" --output-on-failure -j "$JOBS" || failed+=("C++ tests")

echo "== fuzz targets replayed over the YAML test suite (sanitized)"
for t in "$B"/*_fuzz; do
  [ -x "$t" ] || continue
  "$t" ../shared/yaml-test-suite || failed+=("$(basename "$t") replay")
done

echo "== pytest (sanitized module from $STAGE)"
# --capture=sys leaves file descriptor 2 alone, so a sanitizer report reaches
# the terminal instead of a capture file that dies with the process; the abort
# that follows makes faulthandler name the running test.
PYTHONPATH="$STAGE${PYTHONPATH:+:$PYTHONPATH}" LD_PRELOAD="$PRELOAD" \
  QUILLFERN_EXPECT_MODULE_DIR="$STAGE/quillfern" \
  "$PYX" -m pytest -q --capture=sys --durations=5 -p sanitized_module_check tests || failed+=("pytest")

if [ ${#failed[@]} -gt 0 ]; then
  printf 'sanitizer suite FAILED: %s\n' "${failed[*]}" >&2
  exit 1
fi
echo "sanitizer suite passed"
