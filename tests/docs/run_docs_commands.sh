#!/usr/bin/env bash
# Runs the manual's shell examples that are marked as tested, as a reader
# would: each in a fresh folder holding small fixture files of the names it
# uses, with the built vemra-render on PATH and the built frei0r plug-in on
# FREI0R_PATH, within 30 seconds; then checks each output it names.
#
# A block is marked by an HTML comment on the line just before its ```sh
# fence, which a rendered page does not show:
#
#   <!-- tested: in.mov -> warm.mp4 yuv420p bt709 -->
#
# Before "->": the fixture files to make (see make_fixture). After it, any
# number of "FILE PIX_FMT TAGS" checks separated by ";": FILE must decode with
# ffmpeg, its first video stream must have pixel format PIX_FMT, and TAGS is
# "bt709" (matrix, primaries and transfer all BT.709) or "-" (not checked).
# With no "->" the block only has to succeed. A block runs in bash with -e
# and -o pipefail and no standard input.
#
# Usage: run_docs_commands.sh SOURCE_DIR TOOL_DIR PLUGIN_DIR
#        run_docs_commands.sh --self-test
set -uo pipefail
export LC_ALL=C

timeout_seconds=${VEMRA_DOCS_TIMEOUT:-30}
here=$(cd "$(dirname "$0")" && pwd)
fail_count=0
pass_count=0

# --- Fixtures -------------------------------------------------------------------
# Small, so that every block runs in a second or two: ten frames of a test
# picture, H.264 4:2:0 tagged BT.709 (in.mov at 1920x1080, the size the
# manual's raw-pipe examples name). phone.mp4 is a vertical phone clip:
# coded 360x200 and shown rotated, 200x360, a width whose rows ffmpeg pads.
# in.png is a picture; plate.####.exr the frames 1001 to 1100 of a half
# OpenEXR sequence, as the manual's sequence examples name them; shot.wav
# four seconds of tone, a shot's sound.
make_fixture() {  # make_fixture NAME FOLDER
  local name=$1 folder=$2
  local source=(-f lavfi -i "testsrc2=size=320x180:rate=25" -frames:v 10)
  local h264=(-c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709
    -color_trc bt709)
  case $name in
    in.mov)
      ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v 10 \
        "${h264[@]}" -y "$folder/$name" ;;
    clip.mp4)
      ffmpeg -nostdin -v error "${source[@]}" "${h264[@]}" -y "$folder/$name" ;;
    in.png)
      ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=320x180" -frames:v 1 -y "$folder/$name" ;;
    shot.wav)
      ffmpeg -nostdin -v error -f lavfi -i "sine=sample_rate=48000" -t 4 -c:a pcm_s24le \
        -y "$folder/$name" ;;
    plate.####.exr)
      local frame
      oiiotool --pattern checker:color1=0.9,0.5,0.2:color2=0.1,0.3,0.8 64x36 4 -d half \
        -o "$folder/plate.1001.exr" &&
        for frame in $(seq 1002 1100); do cp "$folder/plate.1001.exr" "$folder/plate.$frame.exr"; done ;;
    phone.mp4)
      ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=360x200:rate=25" -frames:v 10 \
        "${h264[@]}" -y "$folder/flat.mp4" &&
        ffmpeg -nostdin -v error -i "$folder/flat.mp4" -c copy -metadata:s:v:0 rotate=90 \
          -y "$folder/$name" && rm -f "$folder/flat.mp4" ;;
    *)
      echo "no fixture named '$name'" >&2
      return 1 ;;
  esac
}

# --- Checks -----------------------------------------------------------------------
# check_output FOLDER FILE PIX_FMT TAGS: prints what is wrong, if anything.
check_output() {
  local file=$1/$2 want_format=$3 want_tags=$4
  [[ -s $file ]] || { echo "$2 was not written"; return 1; }
  local crc
  if ! crc=$(ffmpeg -nostdin -v error -xerror -i "$file" -map 0:v:0 -f framecrc - 2>/dev/null) ||
    ! grep -qv '^#' <<<"$crc"; then
    echo "$2 does not decode"
    return 1
  fi
  local format space primaries transfer
  IFS=, read -r format space primaries transfer < <(ffprobe -v error -select_streams v:0 \
    -show_entries stream=pix_fmt,color_space,color_primaries,color_transfer -of csv=p=0 "$file")
  [[ $format == "$want_format" ]] || { echo "$2 is $format, not $want_format"; return 1; }
  if [[ $want_tags == bt709 && "$space $primaries $transfer" != "bt709 bt709 bt709" ]]; then
    echo "$2 is tagged matrix $space, primaries $primaries, transfer $transfer, not BT.709"
    return 1
  fi
  [[ $want_tags == bt709 || $want_tags == - ]] || { echo "unknown tags '$want_tags'"; return 1; }
}

# run_block PLACE MARKER SCRIPT: the block in a folder of its own.
run_block() {
  local place=$1 marker=$2 script=$3 folder fixtures checks problem=""
  folder=$(mktemp -d)
  fixtures=${marker%%->*}
  checks=""
  [[ $marker == *"->"* ]] && checks=${marker#*->}
  local name
  for name in $fixtures; do
    make_fixture "$name" "$folder" || problem="fixture $name could not be made"
  done
  if [[ -z $problem ]]; then
    printf 'set -eo pipefail\n%s\n' "$script" >"$folder/block.sh"
    if ! (cd "$folder" && HOME=$folder timeout "$timeout_seconds" bash block.sh \
      </dev/null >"$folder/log" 2>&1); then
      problem="the commands failed or ran past ${timeout_seconds} s: $(tail -n 5 "$folder/log")"
    fi
  fi
  local check file format tags
  if [[ -z $problem ]]; then
    IFS=';' read -r -a check_list <<<"$checks"
    for check in "${check_list[@]}"; do
      read -r file format tags <<<"$check"
      [[ -z ${file:-} ]] && continue
      problem=$(check_output "$folder" "$file" "$format" "${tags:--}") && continue
      break
    done
  fi
  rm -rf "$folder"
  if [[ -n $problem ]]; then
    echo "FAIL $place: $problem"
    fail_count=$((fail_count + 1))
  else
    echo "ok   $place: ${checks:-ran}"
    pass_count=$((pass_count + 1))
  fi
}

# scan_page FILE: every marked block of one page, run.
scan_page() {
  local page=$1 line number=0 marker="" place="" script="" in_block=false
  while IFS= read -r line || [[ -n $line ]]; do
    number=$((number + 1))
    if $in_block; then
      if [[ $line == '```'* ]]; then
        run_block "$place" "$marker" "$script"
        in_block=false marker=""
      else
        script+=$line$'\n'
      fi
    elif [[ $line =~ ^\<!--\ tested:(.*)--\>[[:space:]]*$ ]]; then
      marker=${BASH_REMATCH[1]}
    elif [[ -n $marker && $line == '```sh' ]]; then
      in_block=true place="$page:$((number + 1))" script=""
    else
      [[ -n $marker ]] && echo "FAIL $page:$number: a tested marker not followed by a \`\`\`sh block" &&
        fail_count=$((fail_count + 1))
      marker=""
    fi
  done <"$page"
}

run_pages() {  # run_pages SOURCE_DIR
  local page
  for page in "$1"/README.md "$1"/docs/*.md; do
    [[ -f $page ]] && scan_page "$page"
  done
}

# --- Self-test: each check fires ---------------------------------------------------
# A page of blocks that must fail and one that must pass, in a folder of its own.
self_test() {
  local tree
  tree=$(mktemp -d)
  mkdir -p "$tree/docs"
  cat >"$tree/docs/page.md" <<'EOF'
<!-- tested: in.mov -> good.mp4 yuv420p bt709 -->
```sh
ffmpeg -i in.mov -vf format=yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 good.mp4
```
<!-- tested: in.mov -> wide.mp4 yuv420p - -->
```sh
ffmpeg -i in.mov -vf format=yuv444p wide.mp4
```
<!-- tested: in.mov -> untagged.mp4 yuv420p bt709 -->
```sh
ffmpeg -i in.mov -vf format=yuv420p -colorspace unknown untagged.mp4
```
<!-- tested: -> missing.mp4 yuv420p - -->
```sh
true
```
<!-- tested: -> broken.mp4 yuv420p - -->
```sh
head -c 5000 /dev/urandom > broken.mp4
```
<!-- tested: -->
```sh
false
```
<!-- tested: -->
```sh
sleep 10
```
<!-- tested: nothing.mov -->
```sh
true
```
<!-- tested: -->

```sh
true
```
EOF
  VEMRA_DOCS_TIMEOUT=3 "$here/run_docs_commands.sh" "$tree" /nonexistent /nonexistent >"$tree/out"
  local status=$?
  cat "$tree/out"
  local want got
  want="ok FAIL FAIL FAIL FAIL FAIL FAIL FAIL FAIL"
  got=$(awk '$1 == "ok" || $1 == "FAIL" { print $1 }' "$tree/out" | paste -sd' ')
  rm -rf "$tree"
  [[ $got == "$want" && $status -ne 0 ]] || { echo "self-test: got '$got' (status $status), want '$want'"; return 1; }
  echo "self-test: the good block passed, each faulty one failed"
}

if [[ ${1:-} == --self-test ]]; then
  self_test
  exit
fi
source_dir=${1:?source folder} tool_dir=${2:?folder of vemra-render} plugin_dir=${3:?plug-in folder}
# Absolute, as each block runs in a folder of its own.
PATH=$(realpath -m "$tool_dir"):$PATH
FREI0R_PATH=$(realpath -m "$plugin_dir")
export PATH FREI0R_PATH
run_pages "$source_dir"
echo "$pass_count passed, $fail_count failed"
((pass_count > 0 && fail_count == 0))
