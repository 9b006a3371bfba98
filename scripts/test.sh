#!/usr/bin/env bash
# Runs the whole test suite: the C++ unit tests through ctest, then pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/cpp-tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUILLFERN_BUILD_TESTS=ON -DQUILLFERN_BUILD_MODULE=OFF -DQUILLFERN_BUILD_FFI_TESTS=ON >/dev/null
cmake --build build/cpp-tests -j "$JOBS"
if ls build/cpp-tests/test_* >/dev/null 2>&1; then
  ctest --test-dir build/cpp-tests --output-on-failure -j "$JOBS"
fi

$PY -m pytest -q tests
