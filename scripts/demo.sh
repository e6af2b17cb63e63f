#!/usr/bin/env bash
# The project's main job: builds the release configuration and runs the
# adapter benchmark, printing nanoseconds per pixel for each layout.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh base
cmake --preset release -Wno-dev >/dev/null
cmake --build --preset release -j "$(nproc)"
build/release/bench/adapters_bench --benchmark_counters_tabular=true "$@"
