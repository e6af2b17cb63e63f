#!/usr/bin/env bash
# Times FFmpeg's colortemperature and colorchannelmixer filters on a
# 3840x2160 RGBA frame, single-threaded, and prints their nanoseconds per
# pixel beside ours (8-bit ARGB, all four steps active) with the ratio.
# FFmpeg is timed as a binary: a pass without the filter is subtracted, so
# what remains is the filter's own work.
# Usage: bench/peer_ffmpeg.sh OUR_NS_PER_PIXEL [FRAMES]
set -euo pipefail

ours=${1:?usage: peer_ffmpeg.sh OUR_NS_PER_PIXEL [FRAMES]}
frames=${2:-30}
pixels=$((3840 * 2160))

# Wall-clock seconds of one ffmpeg run over `frames` generated frames.
run() {
  local filter=$1
  local start end
  start=$(date +%s.%N)
  ffmpeg -hide_banner -loglevel error -threads 1 -filter_threads 1 \
    -f lavfi -i "testsrc2=size=3840x2160:rate=25,format=rgba" -frames:v "$frames" \
    -vf "null${filter}" -f null - </dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }'
}

best() {  # the fastest of three runs, to keep other load out of the figure
  local filter=$1 best="" t
  for _ in 1 2 3; do
    t=$(run "$filter")
    if [[ -z $best ]] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

base=$(best "")
printf '%-34s %10s %10s\n' "filter" "ns/pixel" "ours/them"
for filter in "colortemperature=temperature=5500:mix=0.8" "colorchannelmixer=rr=1.1:bb=0.9:rb=0.05"; do
  t=$(best ",$filter")
  ns=$(awk -v t="$t" -v b="$base" -v n="$((frames * pixels))" 'BEGIN { printf "%.4f", (t - b) * 1e9 / n }')
  printf '%-34s %10.2f %10.2f\n' "ffmpeg ${filter%%=*}" "$ns" "$(awk -v o="$ours" -v n="$ns" 'BEGIN { print o / n }')"
done
printf '%-34s %10.2f\n' "vemra ProcessPixelArgb8 all steps" "$ours"
