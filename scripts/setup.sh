#!/usr/bin/env bash
# Installs what a fresh machine lacks, builds and installs quillfern into the
# current Python, then runs a one-line smoke call.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" != "0" ] && command -v sudo >/dev/null 2>&1; then SUDO="sudo"; fi

need_pkgs=()
# rustc, cargo and librust-regex-dev build the schema pattern engine offline
# from Debian's crate sources.
for p in build-essential cmake ninja-build libgtest-dev rustc cargo librust-regex-dev; do
  dpkg -s "$p" >/dev/null 2>&1 || need_pkgs+=("$p")
done
if [ ${#need_pkgs[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${need_pkgs[@]}"
fi

PY=${PYTHON:-python3}
# jsonschema and fastjsonschema are peers of benchmarks/schema_bench.py only,
# rapidyaml of bench.py --roundtrip-mem.
$PY -m pip install -q --upgrade "scikit-build-core>=0.10" pytest numpy pyyaml ruamel.yaml jsonschema fastjsonschema rapidyaml
$PY -m pip install -q --no-build-isolation .
$PY -c "import quillfern; print('quillfern installed; yaml_version(\'%YAML 1.2\') ->', repr(quillfern.yaml_version('%YAML 1.2')))"
