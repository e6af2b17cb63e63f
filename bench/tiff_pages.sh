#!/usr/bin/env bash
# Multi-page TIFF files of 1,000 and 4,000 one-pixel pages rendered into a
# PNG frame pattern, each run timed end to end (best of three). Each page is
# opened where its directory lies, so the time should grow with the pages (a
# ratio near 4); a reader that finds page k by walking from the first page
# would take the square of their number (a ratio near 16).
#
# Usage: bench/tiff_pages.sh TOOL [OUT]   TOOL: a vemra-render; OUT: where the
#                                         TSV of the runs goes (default out/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:?usage: $0 TOOL [OUT]}
out=${2:-out/bench}
mkdir -p -- "$out"
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

nanoseconds() {  # nanoseconds PAGES: the best of three runs
  local pages=$1 best=0 start took
  for _ in 1 2 3; do
    rm -rf -- "$work/out" && mkdir -- "$work/out"
    start=$(date +%s%N)
    "$tool" --quiet "$work/pages-$pages.tif" -o "$work/out/p.#.png"
    took=$(($(date +%s%N) - start))
    [[ -f $work/out/p.$pages.png ]] || { echo "page $pages was not rendered" >&2; exit 1; }
    if ((best == 0 || took < best)); then best=$took; fi
  done
  echo "$best"
}

printf 'pages\tseconds\n' > "$out/tiff_pages.tsv"
declare -A took
for pages in 1000 4000; do
  python3 bench/multipage_tiff.py "$pages" "$work/pages-$pages.tif"
  took[$pages]=$(nanoseconds "$pages")
  awk -v p="$pages" -v ns="${took[$pages]}" 'BEGIN { printf "%d\t%.3f\n", p, ns / 1e9 }' \
    >> "$out/tiff_pages.tsv"
  awk -v p="$pages" -v ns="${took[$pages]}" \
    'BEGIN { printf "  %5d pages  %7.2f s  %6.3f ms a page\n", p, ns / 1e9, ns / 1e6 / p }'
done
awk -v a="${took[1000]}" -v b="${took[4000]}" \
  'BEGIN { printf "  4,000 pages take %.1f times as long as 1,000\n", b / a }'
