#!/usr/bin/env bash
# The project's main job, from a fresh clone: installs what is missing, builds
# vemra-render and the effect library in the release configuration, and
# renders the built-in test chart through the effect, leaving the results and
# their before/after sheets in out/demo/.
#
# Usage: scripts/demo.sh [CONTROL OPTIONS...]   default: --temperature 1.0
# e.g.   scripts/demo.sh --temperature -1 --magenta 0.5
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh base render
cmake --preset release -Wno-dev >/dev/null
cmake --build --preset release --target vemra-render -j "$(nproc)"

tool=build/release/tools/vemra-render/vemra-render
out=out/demo
controls=("$@")
[[ ${#controls[@]} -eq 0 ]] && controls=(--temperature 1.0)
mkdir -p "$out"

# 8-bit chart through the ae host (8-bit ARGB), then the float chart, with
# values above 1 and below 0, through the "PrMr" host (32-bit float "BGra").
"$tool" --quiet -o "$out/chart.png" "${controls[@]}" >/dev/null
"$tool" --quiet -o "$out/chart-float.exr" "${controls[@]}" >/dev/null

echo
echo "Rendered the test chart through the effect ($("$tool" --describe | sed -n 1p)) with ${controls[*]}:"
echo "  $out/chart.png                 8-bit, ae host"
echo "  $out/chart-compare.png         side by side: before | after"
echo "  $out/chart-float.exr           float, \"PrMr\" host (values beyond 0..1 kept)"
echo "  $out/chart-float-compare.exr   side by side: before | after"
