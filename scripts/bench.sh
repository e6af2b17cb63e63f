#!/usr/bin/env bash
# The benchmarks in one go: installs what is missing, builds the release
# configuration (-O2, baseline x86-64, what users get), runs the adapter
# benchmark and the whole-render benchmark, then times FFmpeg's filters on the
# same frame size for comparison, and prints a summary; last, whole runs of
# vemra-render against ffmpeg (bench/tool_throughput.sh) and over multi-page
# TIFF files of 1,000 and 4,000 pages (bench/tiff_pages.sh). Each benchmark
# is repeated and its best run reported, to keep other load on the machine
# out of the figures. Raw results (Google Benchmark JSON, the tool runs as
# TSV and JSON) go to out/bench/.
#
# Usage: scripts/bench.sh [REPETITIONS]    default 3, for the Google benchmarks
# VEMRA_BASELINE_RENDER=/path/to/older/vemra-render adds that tool to the
# whole-run comparison.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-3}
scripts/install-deps.sh base render frei0r  # the release build's tool, ffmpeg, the frei0r header
cmake --preset release -Wno-dev >/dev/null
cmake --build --preset release --target adapters_bench render_bench VemraTemperature vemra-render \
  vemra_frei0r -j "$(nproc)"

out=out/bench
mkdir -p "$out"
run() {  # run NAME: one benchmark program, its JSON kept in $out/NAME.json
  local name=$1
  echo "==> $name"
  "build/release/bench/$name" --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_display_aggregates_only=true \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json
}
run adapters_bench
run render_bench

# The benchmark JSON, read with Python's json module:
#   best FILE            "NAME COUNTER=VALUE ..." per benchmark, each counter
#                        from its best repetition (aggregates left out)
#   value FILE NAME KEY  one counter of that, empty when the benchmark lacks it
#   context KEY          an entry of the adapter benchmark's context
benchmark_json() {
  python3 - "$@" <<'EOF'
import json
import sys

query, path, *args = sys.argv[1:]
with open(path) as f:
    doc = json.load(f)
if query == "context":
    print(doc["context"].get(args[0], ""))
    sys.exit()

# fps is best when highest, every other counter when lowest.
counters = ("ns_per_pixel", "fps", "plain_ns_per_pixel", "host_ns_per_pixel")
best = {}
for run in doc["benchmarks"]:
    if run.get("run_type") != "iteration":
        continue
    row = best.setdefault(run["name"], {})
    for key in counters:
        if key in run:
            v = float(run[key])
            if key not in row or (v > row[key] if key == "fps" else v < row[key]):
                row[key] = v
if query == "best":
    for name, row in best.items():
        print(name, *(f"{key}={v!r}" for key, v in row.items()))
elif query == "value":
    name, key = args
    if key in best.get(name, {}):
        print(repr(best[name][key]))
EOF
}
best() { benchmark_json best "$1"; }
value() { benchmark_json value "$1" "$2" "$3"; }
context() { benchmark_json context "$out/adapters_bench.json" "$1"; }

set_for_renders=$(context adapter_set_for_renders)
echo
echo "Adapters, 3840x2160, one call per pixel, one thread (best of $repetitions); renders use the $set_for_renders set:"
printf '  %-24s %-6s %14s %8s %16s %8s\n' adapter set "neutral ns/px" fps "all steps ns/px" fps
for set in $(context adapter_sets_measured); do
  for adapter in ProcessPixelArgb8 ProcessPixelArgb16 ProcessPixelBgra8 ProcessPixelBgraFloat; do
    n=$(value "$out/adapters_bench.json" "$adapter/$set/neutral" ns_per_pixel)
    a=$(value "$out/adapters_bench.json" "$adapter/$set/all_steps" ns_per_pixel)
    awk -v ad="$adapter" -v s="$set" -v n="$n" -v a="$a" 'BEGIN {
      px = 3840 * 2160
      printf "  %-24s %-6s %14.2f %8.1f %16.2f %8.1f\n", ad, s, n, 1e9 / (n * px), a, 1e9 / (a * px) }'
  done
done

echo
echo "Whole renders through the stand-in host, all steps (best of $repetitions):"
printf '  %-46s %10s %8s\n' benchmark ns/px fps
best "$out/render_bench.json" | grep -v '^iteration_overhead' | sort -V | while read -r name _; do
  ns=$(value "$out/render_bench.json" "$name" ns_per_pixel)
  fps=$(value "$out/render_bench.json" "$name" fps)
  printf '  %-46s %10.3f %8.1f\n' "${name%/real_time}" "$ns" "$fps"
done

echo
echo "The host's per-pixel iteration against a plain loop calling the same adapter (best of $repetitions):"
for size in 1920x1080 3840x2160; do
  name="iteration_overhead/ae_argb8/$size/real_time"
  plain=$(value "$out/render_bench.json" "$name" plain_ns_per_pixel)
  host=$(value "$out/render_bench.json" "$name" host_ns_per_pixel)
  awk -v s="$size" -v p="$plain" -v h="$host" \
    'BEGIN { printf "  %-10s plain loop %.3f ns/px, host iteration %.3f ns/px: %+.1f %%\n", s, p, h, (h / p - 1) * 100 }'
done

ours=$(value "$out/adapters_bench.json" "ProcessPixelArgb8/$set_for_renders/all_steps" ns_per_pixel)
echo
echo "==> FFmpeg, single-threaded, on a 3840x2160 RGBA frame, against ProcessPixelArgb8 ($set_for_renders, all steps):"
bench/peer_ffmpeg.sh "$ours"

echo
echo "==> vemra-render against ffmpeg, whole runs:"
VEMRA_RENDER=build/release/tools/vemra-render/vemra-render bench/tool_throughput.sh

echo
echo "==> Multi-page TIFF, 1,000 against 4,000 pages:"
bench/tiff_pages.sh build/release/tools/vemra-render/vemra-render "$out"

echo
echo "==> The frei0r edition in ffmpeg against colortemperature:"
bench/frei0r_bench.sh build/release/frei0r "$repetitions" "$out"
