#!/usr/bin/env bash
# Whole runs of vemra-render against ffmpeg, as a user meets them: the same
# inputs and the same settings, timed end to end (process start to exit) in
# the same session, so only the ratios between the tools are compared, never
# times from different sessions.
#
# Cases:
#   start-up  `--version` of each tool, the fixed cost of every run;
#   raw pipe  24 frames (a second of video) of 3840x2160 in rgba, bgra and
#             gbrapf32le from a file
#             on standard input to /dev/null: all steps, then no colour work
#             (--opacity 0 against ffmpeg without a filter), with
#             `cat < file > /dev/null` as the floor of the pipe;
#   files     24 frames of 1920x1080, file sequence to file sequence, as 8-bit
#             PNG, 16-bit TIFF, half and float EXR; and once 96 PNG frames
#             through vemra-render alone, for its peak memory against the
#             24-frame run;
#   movie     a 10-second 1920x1080 H.264 clip (yuv420p, 25 fps, with AAC
#             sound) into H.264 again (libx264's defaults, yuv420p, the sound
#             copied), and 100 frames of 1920x1080 ProRes 4444 with alpha
#             (yuva444p10le, with PCM sound) into ProRes 4444 again
#             (prores_ks -profile:v 4444, the same pixel format, the encoder's
#             default quality): vemra-render straight from movie to movie;
#             vemra-render with the codecs at FFmpeg's own thread count
#             (VEMRA_CODEC_THREADS=auto), against its share of --threads;
#             ffmpeg's own colortemperature filter with the same encoder
#             settings; ffmpeg converting to RGBA and back with no filter
#             (-vf format=rgba,format=yuv420p: the same colour round trip,
#             plumbing alone); and for H.264 the pipe route (ffmpeg decoding
#             into vemra-render's raw pipe, ffmpeg encoding and taking the
#             sound from the input).
# The frames are a photograph with noise that changes every frame (flat test
# patterns flatter every compressor). Every case runs three times, the tools
# taking turns (A B A B A B), after one untimed run each that fills the page
# cache and checks the output; the best wall time counts, and the highest
# peak memory.
#
# Usage: bench/tool_throughput.sh [--quick]
#   --quick                small frames and one run each, to check this script
# Environment:
#   VEMRA_RENDER           the tool timed (default build/release/tools/vemra-render/vemra-render)
#   VEMRA_BASELINE_RENDER  an older vemra-render, timed as a third contender
#   VEMRA_BENCH_QUICK=1    the same as --quick
#   VEMRA_BENCH_OUT        where results go (default out/bench)
# Prints a markdown table; keeps every run (TSV) and the summary (JSON) in
# the results folder, the generated inputs in its tool/ subfolder.
set -euo pipefail
export LC_ALL=C  # a decimal point in $EPOCHREALTIME and in every number printed

quick=${VEMRA_BENCH_QUICK:-0}
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "tool_throughput: unknown argument '$arg' (see --help)" >&2; exit 2 ;;
  esac
done

# Paths given relative to the caller's folder are resolved before moving to
# the repository's root.
resolve() { [[ -n $1 ]] && realpath -m "$1" || true; }
render=$(resolve "${VEMRA_RENDER:-}")
baseline=$(resolve "${VEMRA_BASELINE_RENDER:-}")
results=$(resolve "${VEMRA_BENCH_OUT:-}")
cd "$(dirname "$0")/.."
render=${render:-$PWD/build/release/tools/vemra-render/vemra-render}
results=${results:-$PWD/out/bench}
for tool in "$render" ${baseline:+"$baseline"}; do
  if [[ ! -x $tool ]]; then
    echo "tool_throughput: no vemra-render at $tool" >&2
    echo "  build it (cmake --build --preset release --target vemra-render) or set VEMRA_RENDER" >&2
    exit 1
  fi
done

# What the runs need: ffmpeg, GNU time for peak memory, and the photograph.
photo=/usr/share/backgrounds/mate/nature/Storm.jpg  # 1920x1280: a 1920x1080 crop without scaling
install() {
  local sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "tool_throughput: installing $*" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
command -v ffmpeg >/dev/null || install ffmpeg
[[ -x /usr/bin/time ]] || install time
[[ -f $photo ]] || install mate-backgrounds

# Sizes and formats. --quick goes through every kind of case once, on far
# fewer pixels; each run there costs little more than starting the tools.
raw_formats=(rgba bgra gbrapf32le)
seq_formats=(png tiff exr-half exr-float)
if [[ $quick == 1 ]]; then
  raw_w=640 raw_h=360 raw_frames=4 seq_w=480 seq_h=270 seq_frames=6 mem_frames=24 repetitions=1
  movie_w=480 movie_h=270 movie_seconds=1
  raw_formats=(rgba gbrapf32le) seq_formats=(png exr-half)
  name=tool_throughput-quick
else
  raw_w=3840 raw_h=2160 raw_frames=24 seq_w=1920 seq_h=1080 seq_frames=24 mem_frames=96 repetitions=3
  movie_w=1920 movie_h=1080 movie_seconds=10
  name=tool_throughput
fi
ours_args=(--temperature 0.5 --magenta 0.3 --opacity 80 --clamp)
ffmpeg_filter="colortemperature=temperature=5000:mix=0.8"
loglevel=error  # ffmpeg's; the warm-up runs log its filter graph

mkdir -p "$results/tool"
inputs=$results/tool/inputs-v1
work=$results/tool/run
runs_tsv=$results/$name.tsv
cases_tsv=$results/tool/$name-cases.tsv
rm -rf "$work"
mkdir -p "$inputs" "$work"
printf 'case\tcontender\trun\twall_s\tpeak_rss_kb\toutput_bytes\n' >"$runs_tsv"
printf 'case\tkind\tformat\tmode\twidth\theight\tframes\tffmpeg_converts\tcontenders\n' >"$cases_tsv"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

# ---------------------------------------------------------------- inputs ---

# The photograph cut to 16:9, brought to WxH, with fresh noise on every frame
# (added in 8-bit YCbCr, the only form the noise filter takes, then converted
# with full-precision rounding so deeper formats get real low bits).
photo_filter() {  # photo_filter W H PIX_FMT
  local noisy="crop=1920:1080,scale=$1:$2:flags=bicubic,format=yuvj444p,noise=alls=12:allf=t"
  echo "$noisy,scale=flags=accurate_rnd+full_chroma_int,format=$3"
}
# make_once DIR CMD...: runs CMD (which fills DIR) unless an earlier run
# finished it; an interrupted one is started again.
make_once() {
  local dir=$1
  shift
  [[ -f $dir/.complete ]] && return
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "tool_throughput: making ${dir#"$results"/}" >&2
  "$@"
  touch "$dir/.complete"
}

raw_dir=$inputs/raw-${raw_w}x${raw_h}-$raw_frames
make_raw() {
  local fmt
  for fmt in "${raw_formats[@]}"; do
    ffmpeg -hide_banner -nostats -loglevel error -nostdin -loop 1 -i "$photo" \
      -vf "$(photo_filter $raw_w $raw_h "$fmt")" \
      -frames:v $raw_frames -f rawvideo -pix_fmt "$fmt" "$raw_dir/frames.$fmt"
  done
}
make_once "$raw_dir" make_raw

# Sequences: file extension, pixel format and encoder options of each. The
# encoder options are also ffmpeg's when it writes the results: vemra-render
# writes a file's own compression and sample type back, so both tools write
# what they read (PNG and TIFF at ffmpeg's defaults, as made here).
declare -A seq_ext=([png]=png [tiff]=tif [exr-half]=exr [exr-float]=exr)
declare -A seq_pix_fmt=([png]=rgb24 [tiff]=rgb48le [exr-half]=gbrpf32le [exr-float]=gbrpf32le)
declare -A seq_codec=([png]="" [tiff]="" [exr-half]="-c:v exr -compression zip16 -format half"
  [exr-float]="-c:v exr -compression zip16 -format float")
seq_dir=$inputs/seq-${seq_w}x${seq_h}-$seq_frames-$mem_frames
make_sequences() {
  local f frames codec
  for f in "${seq_formats[@]}"; do
    # PNG is made long enough for the memory run; its timed case takes the
    # first frames through hard links.
    frames=$seq_frames
    [[ $f == png ]] && frames=$mem_frames
    read -r -a codec <<<"${seq_codec[$f]}"
    mkdir -p "$seq_dir/$f"
    ffmpeg -hide_banner -nostats -loglevel error -nostdin -loop 1 -i "$photo" \
      -vf "$(photo_filter $seq_w $seq_h "${seq_pix_fmt[$f]}")" \
      -frames:v "$frames" "${codec[@]}" "$seq_dir/$f/in.%04d.${seq_ext[$f]}"
  done
  mv "$seq_dir/png" "$seq_dir/png-long"
  mkdir -p "$seq_dir/png"
  for ((i = 1; i <= seq_frames; i++)); do
    ln "$seq_dir/png-long/$(printf 'in.%04d.png' $i)" "$seq_dir/png/" 2>/dev/null ||
      cp "$seq_dir/png-long/$(printf 'in.%04d.png' $i)" "$seq_dir/png/"
  done
}
make_once "$seq_dir" make_sequences

movie_dir=$inputs/movie-${movie_w}x${movie_h}-$movie_seconds
movie_frames=$((movie_seconds * 25))
movie_encode=(-c:v libx264 -pix_fmt yuv420p)
make_movie() {
  ffmpeg -hide_banner -nostats -loglevel error -nostdin -loop 1 -framerate 25 -i "$photo" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -vf "$(photo_filter $movie_w $movie_h yuv420p)" -t "$movie_seconds" \
    "${movie_encode[@]}" -c:a aac "$movie_dir/in.mp4"
}
make_once "$movie_dir" make_movie

prores_dir=$inputs/prores-${movie_w}x${movie_h}-$movie_seconds
prores_frames=$((movie_seconds * 10))
prores_encode=(-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le)
make_prores() {
  ffmpeg -hide_banner -nostats -loglevel error -nostdin -loop 1 -framerate 25 -i "$photo" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -vf "$(photo_filter $movie_w $movie_h yuva444p10le)" -frames:v "$prores_frames" -shortest \
    "${prores_encode[@]}" -c:a pcm_s16le "$prores_dir/in.mov"
}
make_once "$prores_dir" make_prores

# ------------------------------------------------------------------ runs ---

# Each contender's command for the current case goes into `cmd`, its standard
# input into `stdin` and its output (a file or a folder) into `output`.
setup() {  # setup CASE_KIND FORMAT MODE CONTENDER
  local kind=$1 fmt=$2 mode=$3 who=$4 tool=$render
  case_kind=$kind  # a movie case writes one file, not a file a frame
  local ff=(ffmpeg -hide_banner -nostats -loglevel "$loglevel")
  [[ $who == baseline ]] && tool=$baseline
  output=/dev/null
  if [[ $kind == startup ]]; then
    stdin=/dev/null
    case $who in
      ffmpeg) cmd=(ffmpeg -hide_banner -version) ;;
      *) cmd=("$tool" --version) ;;
    esac
  elif [[ $kind == raw ]]; then
    stdin=$raw_dir/frames.$fmt
    case $who:$mode in
      cat:*) cmd=(cat) ;;
      ffmpeg:all) cmd=("${ff[@]}" -f rawvideo -pix_fmt "$fmt" -s ${raw_w}x$raw_h -i -
        -vf "$ffmpeg_filter" -f rawvideo -pix_fmt "$fmt" -) ;;
      ffmpeg:none) cmd=("${ff[@]}" -f rawvideo -pix_fmt "$fmt" -s ${raw_w}x$raw_h -i -
        -f rawvideo -pix_fmt "$fmt" -) ;;
      *:all) cmd=("$tool" -q --raw ${raw_w}x$raw_h --pix-fmt "$fmt" "${ours_args[@]}") ;;
      *:none) cmd=("$tool" -q --raw ${raw_w}x$raw_h --pix-fmt "$fmt" --opacity 0) ;;
    esac
  elif [[ $kind == movie ]]; then
    local in=$movie_dir/in.mp4 raw=(-f rawvideo -pix_fmt rgba) out=out.mp4
    local encode=("${movie_encode[@]}") ours=(--codec libx264 --pix-fmt yuv420p)
    local round_trip=format=rgba,format=yuv420p
    if [[ $fmt == prores ]]; then
      in=$prores_dir/in.mov out=out.mov encode=("${prores_encode[@]}")
      ours=(--codec prores_ks --pix-fmt yuva444p10le) round_trip=format=rgba64le,format=yuva444p10le
    fi
    stdin=/dev/null
    output=$work/out
    case $who in
      ffmpeg) cmd=("${ff[@]}" -nostdin -i "$in" -vf "$ffmpeg_filter" "${encode[@]}"
        -c:a copy "$output/$out") ;;
      roundtrip) cmd=("${ff[@]}" -nostdin -i "$in" -vf "$round_trip" "${encode[@]}"
        -c:a copy "$output/$out") ;;
      codecs-auto) cmd=(env VEMRA_CODEC_THREADS=auto "$tool" -q "$in" -o "$output/$out"
        "${ours[@]}" "${ours_args[@]}") ;;
      pipe) cmd=(bash -c 'set -o pipefail
        "$1" -hide_banner -nostats -loglevel error -nostdin -i "$2" '"${raw[*]}"' - |
          "$3" -q --raw "$4" --pix-fmt rgba "${@:7}" |
          "$1" -hide_banner -nostats -loglevel error -nostdin '"${raw[*]}"' -s "$4" -r 25 \
            -i - -i "$2" -map 0:v -map 1:a '"${movie_encode[*]}"' -c:a copy "$5/$6"' \
        pipe ffmpeg "$in" "$tool" "${movie_w}x$movie_h" "$output" out.mp4 "${ours_args[@]}") ;;
      *) cmd=("$tool" -q "$in" -o "$output/$out" "${ours[@]}" "${ours_args[@]}") ;;
    esac
  else
    local ext=${seq_ext[$fmt]} dir=$seq_dir/$fmt codec
    [[ $mode == long ]] && dir=$seq_dir/png-long
    stdin=/dev/null
    output=$work/out
    if [[ $who == ffmpeg ]]; then
      read -r -a codec <<<"${seq_codec[$fmt]}"
      cmd=("${ff[@]}" -nostdin -i "$dir/in.%04d.$ext" -vf "$ffmpeg_filter" "${codec[@]}"
        "$output/out.%04d.$ext")
    else
      cmd=("$tool" -q "$dir/in.%04d.$ext" -o "$output/out.%04d.$ext" "${ours_args[@]}")
    fi
  fi
}

# An empty output folder for the prepared command, with the writes of the
# previous run flushed, so that they are not charged to this one.
fresh_output() {
  [[ $output == /dev/null ]] && return
  rm -rf "$output"
  sync -f "$work"
  mkdir -p "$output"
}
# Runs the prepared command with its standard output to $1 and its messages
# to $work/log.
execute() {
  /usr/bin/time -f %M -o "$work/rss" "${cmd[@]}" <"$stdin" >"$1" 2>"$work/log"
}
failed() {  # failed WHAT: the command and its last messages, on standard error
  echo "tool_throughput: $1: ${cmd[*]}" >&2
  tail -n 5 "$work/log" >&2
}
written() {  # "FILES BYTES" in the output folder
  find "$output" -type f -printf '%s\n' | awk '{ n++; b += $1 } END { print n + 0, b + 0 }'
}

# warm_up LABEL CONTENDER FRAMES: one untimed run, which fills the page cache
# and checks that the contender writes every frame: all the bytes of a raw
# pipe (counted here, as the timed runs write to /dev/null), every file of a
# sequence. ffmpeg logs its filter graph here, which tells whether it had to
# insert a pixel format conversion.
warm_up() {
  local label=$1 who=$2 frames=$3 expected got
  if [[ $output == /dev/null ]]; then
    expected=$(stat -c %s "$stdin")
    [[ $who == cat ]] && { cat "$stdin" >/dev/null; return; }
    if [[ $stdin == /dev/null ]]; then  # start-up only
      execute /dev/null || { failed "$label, $who failed"; return 1; }
      return
    fi
    execute >(wc -c >"$work/bytes") || { failed "$label, $who failed"; return 1; }
    wait $!  # for the count
    got=$(cat "$work/bytes")
    expected="$expected bytes" got="$got bytes"
  else
    fresh_output
    execute /dev/null || { failed "$label, $who failed"; return 1; }
    read -r got _ < <(written)
    [[ $case_kind == movie ]] && frames=1
    expected="$frames files" got="$got files"
  fi
  if [[ $got != "$expected" ]]; then
    echo "tool_throughput: $label, $who wrote $got, not $expected" >&2
    return 1
  fi
  if [[ $who == ffmpeg ]]; then
    # "[auto_scale_0 @ 0x...] w:640 h:360 fmt:gbrapf32le sar:0/1 -> w:640 h:360 fmt:gbrap16le ..."
    sed -n 's/^\[auto_scale_[0-9]* @ [^]]*\] .* fmt:\([^ ]*\) .*-> .* fmt:\([^ ]*\) .*/\1 to \2/p' \
      "$work/log" | paste -sd',' - >"$work/converts"
  fi
}

# timed LABEL CONTENDER RUN FRAMES: one timed run; records its wall time,
# peak memory and output size.
timed() {
  local label=$1 who=$2 run=$3 frames=$4 start end files="" bytes=""
  fresh_output
  start=$EPOCHREALTIME
  execute /dev/null || { failed "$label, $who failed"; exit 1; }
  end=$EPOCHREALTIME
  if [[ $output != /dev/null ]]; then
    read -r files bytes < <(written)
    [[ $case_kind == movie ]] && frames=1
    if ((files != frames)); then
      echo "tool_throughput: $label, $who wrote $files files, not $frames" >&2
      exit 1
    fi
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$who" "$run" \
    "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')" \
    "$(tail -n 1 "$work/rss")" "$bytes" >>"$runs_tsv"
}

# run_case LABEL KIND FORMAT MODE WIDTH HEIGHT FRAMES REPETITIONS CONTENDERS...
# A baseline that cannot do the case (an older tool may lack a pixel format)
# is left out of it; any other failure stops the benchmark.
run_case() {
  local label=$1 kind=$2 fmt=$3 mode=$4 w=$5 h=$6 frames=$7 reps=$8 who run
  shift 8
  local contenders=() converts=""
  local started=$EPOCHREALTIME
  for who in "$@"; do
    : >"$work/converts"
    loglevel=verbose setup "$kind" "$fmt" "$mode" "$who"
    if warm_up "$label" "$who" "$frames"; then
      contenders+=("$who")
      [[ $who == ffmpeg ]] && converts=$(cat "$work/converts")
    elif [[ $who == baseline ]]; then
      echo "tool_throughput: $label: the baseline is left out of this case" >&2
    else
      exit 1
    fi
  done
  for ((run = 1; run <= reps; run++)); do
    for who in "${contenders[@]}"; do
      setup "$kind" "$fmt" "$mode" "$who"
      timed "$label" "$who" "$run" "$frames"
    done
  done
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$kind" "$fmt" "$mode" "$w" "$h" "$frames" \
    "${converts:-no}" "${contenders[*]}" >>"$cases_tsv"
  awk -v a="$started" -v b="$EPOCHREALTIME" -v case="$label" \
    'BEGIN { printf "tool_throughput: %s: %.0f s\n", case, b - a }' >&2
}

tools=(vemra-render ${baseline:+baseline} ffmpeg)
run_case "start-up only (--version)" startup - - 0 0 0 $repetitions "${tools[@]}"
for fmt in "${raw_formats[@]}"; do
  run_case "raw $fmt, all steps" raw "$fmt" all $raw_w $raw_h $raw_frames $repetitions "${tools[@]}" cat
  run_case "raw $fmt, no colour work" raw "$fmt" none $raw_w $raw_h $raw_frames $repetitions \
    "${tools[@]}" cat
done
for fmt in "${seq_formats[@]}"; do
  run_case "$fmt files, all steps" files "$fmt" all $seq_w $seq_h $seq_frames $repetitions "${tools[@]}"
done
run_case "png files, all steps, memory run" files png long $seq_w $seq_h $mem_frames 1 vemra-render
run_case "h264 movie, all steps" movie h264 all $movie_w $movie_h $movie_frames $repetitions \
  "${tools[@]}" codecs-auto roundtrip pipe
run_case "prores 4444 movie, all steps" movie prores all $movie_w $movie_h $prores_frames \
  $repetitions "${tools[@]}" codecs-auto roundtrip
rm -rf "$work"

# --------------------------------------------------------------- summary ---

version() { "$1" --version 2>/dev/null | head -n 1 || true; }
export BENCH_RUNS=$runs_tsv BENCH_CASES=$cases_tsv BENCH_JSON=$results/$name.json
export BENCH_RENDER=$render BENCH_RENDER_VERSION=$(version "$render")
export BENCH_BASELINE=$baseline BENCH_BASELINE_VERSION=${baseline:+$(version "$baseline")}
export BENCH_FFMPEG_VERSION=$(ffmpeg -hide_banner -version | head -n 1)
export BENCH_OURS_ARGS="${ours_args[*]}" BENCH_FFMPEG_FILTER=$ffmpeg_filter
export BENCH_PHOTO=$photo BENCH_REPETITIONS=$repetitions BENCH_QUICK=$quick BENCH_CPUS=$(nproc)
export BENCH_LOAD_START=$load_start BENCH_LOAD_END=$(cut -d' ' -f1-3 /proc/loadavg)
python3 - <<'PY' | tee "$results/$name.md"
import csv
import json
import os

env = os.environ
MB = 1e6


def rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


cases = []
runs = rows(env["BENCH_RUNS"])
for case in rows(env["BENCH_CASES"]):
    frames = int(case["frames"])
    pixels = int(case["width"]) * int(case["height"]) * frames
    contenders = {}
    for who in case["contenders"].split():
        mine = [r for r in runs if r["case"] == case["case"] and r["contender"] == who]
        best = min(mine, key=lambda r: float(r["wall_s"]))
        contenders[who] = {
            "runs": [
                {
                    "wall_s": float(r["wall_s"]),
                    "peak_rss_kb": int(r["peak_rss_kb"]),
                    "output_bytes": int(r["output_bytes"]) if r["output_bytes"] else None,
                }
                for r in mine
            ],
            "best_wall_s": float(best["wall_s"]),
            "ns_per_pixel": float(best["wall_s"]) * 1e9 / pixels if pixels else None,
            "peak_rss_kb": max(int(r["peak_rss_kb"]) for r in mine),
            "output_bytes": int(best["output_bytes"]) if best["output_bytes"] else None,
        }

    def ratio(field, other):
        a, b = contenders.get("vemra-render"), contenders.get(other)
        if a is None or b is None or not a[field] or not b[field]:
            return None
        return a[field] / b[field]

    cases.append(
        {
            "case": case["case"],
            "kind": case["kind"],
            "mode": case["mode"],
            "format": case["format"],
            "width": int(case["width"]),
            "height": int(case["height"]),
            "frames": frames,
            "pixels": pixels,
            "runs_per_contender": len(contenders["vemra-render"]["runs"]),
            "ffmpeg_conversions": None if case["ffmpeg_converts"] == "no" else case["ffmpeg_converts"],
            "contenders": contenders,
            "time_vs_ffmpeg": ratio("best_wall_s", "ffmpeg"),
            "time_vs_baseline": ratio("best_wall_s", "baseline"),
            "size_vs_ffmpeg": ratio("output_bytes", "ffmpeg"),
            "size_vs_baseline": ratio("output_bytes", "baseline"),
        }
    )

timed = [c for c in cases if c["mode"] != "long"]
memory = [c for c in cases if c["format"] == "png" and c["kind"] == "files"]
settings = {
    "vemra-render": env["BENCH_RENDER"],
    "vemra-render_version": env["BENCH_RENDER_VERSION"],
    "baseline": env["BENCH_BASELINE"] or None,
    "baseline_version": env["BENCH_BASELINE_VERSION"] or None,
    "ffmpeg_version": env["BENCH_FFMPEG_VERSION"],
    "vemra-render_settings": env["BENCH_OURS_ARGS"],
    "ffmpeg_filter": env["BENCH_FFMPEG_FILTER"],
    "photograph": env["BENCH_PHOTO"],
    "repetitions": int(env["BENCH_REPETITIONS"]),
    "quick": env["BENCH_QUICK"] == "1",
    "cpus": int(env["BENCH_CPUS"]),
    "load_average_start": env["BENCH_LOAD_START"],
    "load_average_end": env["BENCH_LOAD_END"],
}
with open(env["BENCH_JSON"], "w") as f:
    json.dump({"settings": settings, "cases": cases}, f, indent=2)
    f.write("\n")

# The table: one row per case, the tool's figures, ffmpeg's and the ratios.
has_baseline = any("baseline" in c["contenders"] for c in timed)


def fmt(v, pattern, none="–"):
    return none if v is None else format(v, pattern)


def get(case, who, field):
    return case["contenders"].get(who, {}).get(field)


head = ["case", "frames", "vemra-render s", "ns/px", "ffmpeg s", "ns/px", "time ÷ ffmpeg"]
head += ["time ÷ baseline"] if has_baseline else []
head += ["cat s (floor)", "output MB", "size ÷ ffmpeg"]
head += ["size ÷ baseline"] if has_baseline else []
head += ["peak RSS MB: vemra-render / ffmpeg" + (" / baseline" if has_baseline else "")]
lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
for c in timed:
    rss = [get(c, who, "peak_rss_kb") for who in ["vemra-render", "ffmpeg"] + ["baseline"] * has_baseline]
    out = get(c, "vemra-render", "output_bytes")
    row = [
        c["case"],
        f'{c["frames"]} × {c["width"]}x{c["height"]}' if c["pixels"] else "–",
        fmt(get(c, "vemra-render", "best_wall_s"), ".3f"),
        fmt(get(c, "vemra-render", "ns_per_pixel"), ".2f"),
        fmt(get(c, "ffmpeg", "best_wall_s"), ".3f"),
        fmt(get(c, "ffmpeg", "ns_per_pixel"), ".2f"),
        fmt(c["time_vs_ffmpeg"], ".2f"),
    ]
    row += [fmt(c["time_vs_baseline"], ".2f")] if has_baseline else []
    row += [
        fmt(get(c, "cat", "best_wall_s"), ".3f"),
        "/dev/null" if c["kind"] == "raw" else fmt(None if out is None else out / MB, ".1f"),
        fmt(c["size_vs_ffmpeg"], ".3f"),
    ]
    row += [fmt(c["size_vs_baseline"], ".3f")] if has_baseline else []
    row += [" / ".join(fmt(None if r is None else r / 1024, ".0f") for r in rss)]
    lines.append("| " + " | ".join(row) + " |")

print(f'vemra-render ({settings["vemra-render_version"]}): {settings["vemra-render"]}')
if settings["baseline"]:
    print(f'baseline, today\'s tool ({settings["baseline_version"]}): {settings["baseline"]}')
print(f'{settings["ffmpeg_version"]}')
print(f'All steps: vemra-render {settings["vemra-render_settings"]}; ffmpeg -vf {settings["ffmpeg_filter"]}')
print("No colour work: vemra-render --opacity 0; ffmpeg without a filter.")
print(f'Both tools at their default threads ({settings["cpus"]} CPUs); best wall time of '
      f'{settings["repetitions"]} run(s), the tools taking turns; peak RSS the highest.')
print(f'Load average {settings["load_average_start"]} at the start, {settings["load_average_end"]} at the end.')
print()
print("\n".join(lines))
print()
print("Ratios are vemra-render ÷ the other (below 1: vemra-render is faster or smaller).")
for c in timed:
    if c["ffmpeg_conversions"]:
        print(f'ffmpeg converts pixels around its filter in "{c["case"]}" (it takes no such input): '
              f'{c["ffmpeg_conversions"]}')
if not any(c["ffmpeg_conversions"] for c in timed):
    print("ffmpeg converts no pixels around its filter in any case (checked in its filter graph).")
def spread(case, who, other):
    """vemra-render ÷ `other` in each round of turns, lowest to highest."""
    ours = case["contenders"].get(who, {}).get("runs", [])
    theirs = case["contenders"].get(other, {}).get("runs", [])
    ratios = [a["wall_s"] / b["wall_s"] for a, b in zip(ours, theirs)]
    return f"{min(ratios):.2f} to {max(ratios):.2f}" if ratios else "–"


for c in timed:
    if c["kind"] != "movie":
        continue
    best = {who: get(c, who, "best_wall_s") for who in c["contenders"]}
    parts = []
    for other, what in [("ffmpeg", "colortemperature"), ("roundtrip", "ffmpeg's RGBA round trip"),
                        ("codecs-auto", "the codecs at FFmpeg's own thread count")]:
        if best.get(other):
            parts.append(f'÷ {what} {best["vemra-render"] / best[other]:.2f} '
                         f'(per round {spread(c, "vemra-render", other)})')
    print(f'{c["case"]}: vemra-render ' + "; ".join(parts) + "; peak RSS MB " +
          ", ".join(f'{who} {get(c, who, "peak_rss_kb") / 1024:.0f}' for who in c["contenders"]) + ".")
for c in timed:
    if "pipe" in c["contenders"]:
        pipe = get(c, "pipe", "best_wall_s")
        print(f'{c["case"]}: the pipe route (ffmpeg | vemra-render --raw | ffmpeg, the sound '
              f'taken from the input) {pipe:.3f} s; vemra-render ÷ pipe route '
              f'{get(c, "vemra-render", "best_wall_s") / pipe:.2f}, size ÷ pipe route '
              f'{get(c, "vemra-render", "output_bytes") / get(c, "pipe", "output_bytes"):.3f}.')
if len(memory) == 2:
    print("Peak RSS of vemra-render on the PNG sequence: "
          + ", ".join(f'{c["frames"]} frames {get(c, "vemra-render", "peak_rss_kb") / 1024:.0f} MB'
                      for c in memory)
          + ".")
print(f'Raw results: {env["BENCH_RUNS"]}, {env["BENCH_JSON"]}')
PY
