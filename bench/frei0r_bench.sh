#!/usr/bin/env bash
# The frei0r edition in ffmpeg against ffmpeg's own colortemperature with mix,
# on 3840x2160 bgra raw frames read from a file (in the page cache), all four
# steps active (vemra-render's --temperature 0.5 --magenta 0.3 --opacity 80
# --clamp, as frei0r values; colortemperature=temperature=5000:mix=0.8).
# The runs take turns, and each case keeps its best of REPETITIONS:
#   - the filter's own cost at -filter_threads 1: each run minus a run with
#     no filter, in ns per pixel, and ours over colortemperature's;
#   - the whole run at ffmpeg's default threads, with the ratio. vf_frei0r
#     calls a plug-in on one thread; colortemperature is slice-threaded.
# Raw results go to OUT/frei0r_bench.tsv.
#
# Usage: bench/frei0r_bench.sh PLUGIN_DIR [REPETITIONS] [OUT]   (default 3, out/bench)
set -euo pipefail
plugin_dir=${1:?usage: frei0r_bench.sh PLUGIN_DIR [REPETITIONS] [OUT]}
repetitions=${2:-3}
out=${3:-out/bench}
[[ -f $plugin_dir/vemra_temperature.so ]] || { echo "no vemra_temperature.so in $plugin_dir" >&2; exit 1; }
export FREI0R_PATH=$plugin_dir
mkdir -p "$out"

size=3840x2160
distinct=8 loops=3  # 8 different frames, read 3 times: 24 frames
frames=$((distinct * loops))
pixels=$((3840 * 2160 * frames))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
  -i "testsrc2=size=$size:rate=25,format=yuva444p,noise=alls=30:allf=t,format=bgra" \
  -frames:v "$distinct" -f rawvideo -pix_fmt bgra -y "$work/in.raw"

declare -A filters=(
  [none]="null"
  [vemra]="frei0r=vemra_temperature:0.55|0.53|0.8|y"
  [colortemperature]="colortemperature=temperature=5000:mix=0.8"
)
# The plug-in must be the one loaded, and change the frames.
ffmpeg -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt bgra -video_size "$size" \
  -i "$work/in.raw" -frames:v 1 -vf "${filters[vemra]}" -f rawvideo -y "$work/check.raw"
cmp -s <(head -c "$(stat -c %s "$work/check.raw")" "$work/in.raw") "$work/check.raw" &&
  { echo "the plug-in left the frame unchanged" >&2; exit 1; }

# Wall-clock seconds of one run; THREADS is "1" for -filter_threads 1, else
# "default".
run() {
  local name=$1 threads=$2 start end
  local -a options=()
  [[ $threads == 1 ]] && options=(-filter_threads 1)
  start=$(date +%s.%N)
  ffmpeg -nostdin -hide_banner -loglevel error "${options[@]}" -stream_loop $((loops - 1)) \
    -f rawvideo -pix_fmt bgra -video_size "$size" -framerate 25 -i "$work/in.raw" \
    -vf "${filters[$name]}" -f null -
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}

cases=(none vemra colortemperature)
declare -A best
for threads in 1 default; do
  for ((r = 0; r < repetitions + 1; ++r)); do  # the first round only fills the cache
    for name in "${cases[@]}"; do
      t=$(run "$name" "$threads")
      ((r == 0)) && continue
      printf '%s\t%s\t%s\n' "$threads" "$name" "$t" >>"$work/runs.tsv"
      key=$threads/$name
      if [[ -z ${best[$key]:-} ]] || awk -v t="$t" -v b="${best[$key]}" 'BEGIN { exit !(t < b) }'; then
        best[$key]=$t
      fi
    done
  done
done
{
  printf 'threads\tcase\tseconds\n'
  cat "$work/runs.tsv"
} >"$out/frei0r_bench.tsv"

echo "frei0r edition in ffmpeg, $frames frames of $size bgra, best of $repetitions, taking turns:"
awk -v none="${best[1/none]}" -v ours="${best[1/vemra]}" -v theirs="${best[1/colortemperature]}" \
  -v px="$pixels" 'BEGIN {
  o = (ours - none) * 1e9 / px; c = (theirs - none) * 1e9 / px
  printf "  -filter_threads 1, the filter alone (run minus %.2f s without a filter):\n", none
  printf "    %-36s %6.2f ns/px\n    %-36s %6.2f ns/px\n    %-36s %6.2f\n",
    "vemra_temperature (frei0r)", o, "colortemperature with mix", c, "ours / colortemperature", o / c }'
awk -v none="${best[default/none]}" -v ours="${best[default/vemra]}" \
  -v theirs="${best[default/colortemperature]}" 'BEGIN {
  printf "  default threads, whole runs:\n"
  printf "    %-36s %6.2f s\n    %-36s %6.2f s\n    %-36s %6.2f s\n    %-36s %6.2f\n",
    "no filter", none, "vemra_temperature (frei0r)", ours, "colortemperature with mix", theirs,
    "ours / colortemperature", ours / theirs }'
