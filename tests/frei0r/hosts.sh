#!/usr/bin/env bash
# The frei0r edition driven by real hosts, started as processes: ffmpeg's
# frei0r filter, MLT's melt and GStreamer's frei0r wrapper, each compared byte for byte with vemra-render
# rendering the same frames as the "PrMr" host's 8-bit "bgra" world; melt's
# metadata for the plug-in; and Kdenlive's description of it. Every host
# case first shows that the host loaded the plug-in: without it melt renders
# unfiltered and exits 0, and -query says "No metadata", also with 0.
#
# Usage: hosts.sh ffmpeg|melt|gstreamer PLUGIN_DIR VEMRA_RENDER
#        hosts.sh query PLUGIN_DIR
#        hosts.sh kdenlive PLUGIN_DIR DESCRIPTION.xml
#        hosts.sh install PLUGIN_DIR BUILD_DIR
#        hosts.sh projects PLUGIN_DIR VEMRA_RENDER PROJECTS_DIR
set -euo pipefail
export LC_ALL=C

case=${1:?case}
plugin_dir=${2:?plugin folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Only the plug-in under test: nothing from ~/.frei0r-1 or the system folders.
export FREI0R_PATH=$plugin_dir HOME=$work
id=frei0r.vemra_temperature

fail() {
  echo "FAIL: $*"
  exit 1
}

# --- The mapping, written out here from the controls' units -----------------
# A frei0r value's position: clamped to 0..1, "nan" the default.
position() {
  awk -v x="$1" -v d="$2" 'BEGIN {
    if (x == "nan") x = d; else if (x + 0 < 0) x = 0; else if (x + 0 > 1) x = 1
    printf "%.17g", x }'
}
# vemra-render's controls for the frei0r values T M O C (C a number, or y/n):
# Temperature and Magenta -5 + 10x, Opacity 100x percent, the box on from 0.5.
tool_controls() {
  local t m o c
  t=$(position "$1" 0.5) m=$(position "$2" 0.5) o=$(position "$3" 1)
  case $4 in y) c=1 ;; n) c=0 ;; *) c=$(position "$4" 0) ;; esac
  awk -v t="$t" -v m="$m" -v o="$o" -v c="$c" 'BEGIN {
    printf "--temperature %.17g --magenta %.17g --opacity %.17g", -5 + t * 10, -5 + m * 10, 0 + o * 100
    if (c >= 0.5) printf " --clamp" }'
}

# gen W H FRAMES FILE: 8-bit BGRA frames of a test picture with noise in
# every channel, alpha included.
gen() {
  ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
    -i "testsrc2=size=$1x$2:rate=25,format=yuva444p,noise=alls=70:allf=t,format=bgra" \
    -frames:v "$3" -f rawvideo -pix_fmt bgra -y "$4"
}

# expect W H IN OUT [CONTROLS...]: the tool's render of IN into OUT.
expect() {
  local size=$1x$2 in=$3 out=$4
  shift 4
  "$tool" --raw "$size" --pix-fmt bgra --host prmr --depth 8 "$@" <"$in" >"$out"
}

# --- ffmpeg -------------------------------------------------------------------
# Frames whose width is a multiple of 16 (ffmpeg pads rows to 64 bytes and
# tells a frei0r plug-in no stride). Sets: T M O C as frei0r values.
ffmpeg_case() {
  local -a sets=(
    "defaults"
    "0.37 0.62 0.81 y"
    "0 1 1 n"
    "1 0 0.5 y"
    "0.7 0.3 0 n"
    "0.64 0.41 0.004 n"
    "1.5 -0.25 0.93 y"
    "0.2 nan 0.6 n"
  )
  local size w h set filter
  for size in 64x24 320x7; do
    w=${size%x*} h=${size#*x}
    gen "$w" "$h" 3 "$work/in.raw"
    run_ffmpeg() {
      ffmpeg -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt bgra -video_size "$size" \
        -framerate 25 -i "$work/in.raw" -vf "$1" -f rawvideo -pix_fmt bgra -y "$work/out.raw"
    }
    # Loaded: a warm setting changes the frames.
    run_ffmpeg "frei0r=vemra_temperature:0.9" || fail "ffmpeg did not run the plug-in"
    cmp -s "$work/in.raw" "$work/out.raw" && fail "ffmpeg left the frames unfiltered"

    for set in "${sets[@]}"; do
      if [[ $set == defaults ]]; then
        filter="frei0r=vemra_temperature"
        expect "$w" "$h" "$work/in.raw" "$work/expected.raw"
      else
        read -r t m o c <<<"$set"
        filter="frei0r=vemra_temperature:$t|$m|$o|$c"
        # shellcheck disable=SC2046  # the controls are words of their own
        expect "$w" "$h" "$work/in.raw" "$work/expected.raw" $(tool_controls "$t" "$m" "$o" "$c")
      fi
      run_ffmpeg "$filter" || fail "ffmpeg failed with $filter"
      cmp "$work/expected.raw" "$work/out.raw" || fail "$size, $filter: ffmpeg differs from vemra-render"
      echo "ffmpeg $size $filter: same bytes as vemra-render"
    done
  done
}

# --- melt ---------------------------------------------------------------------
# profile W H: an MLT profile of that size, square pixels, progressive.
profile() {
  printf '%s\n' "description=test" "frame_rate_num=25" "frame_rate_den=1" "width=$1" \
    "height=$2" "progressive=1" "sample_aspect_num=1" "sample_aspect_den=1" \
    "display_aspect_num=$1" "display_aspect_den=$2" "colorspace=709" >"$work/profile"
}

# melt_render W H OUT ARGS...: the clip through the filter with ARGS into OUT,
# then IN cut to the frames melt wrote (melt leaves out a raw clip's last).
#
# On a busy machine melt now and then stops before it writes a frame, exiting
# 0, or never ends (a start-up race of its own with a clip this short): such a
# run, and only such a run, is tried again, three tries in all. Any other
# failure, and any output that differs, fails the test.
melt_render() {
  local w=$1 h=$2 out=$3 try status
  shift 3
  for try in 1 2 3; do
    rm -f "$out"
    status=0
    timeout 60 melt -silent -profile "$work/profile" "$work/in.nut" -attach-clip "$id" "$@" \
      -consumer "avformat:$out" f=rawvideo vcodec=rawvideo pix_fmt=bgra an=1 </dev/null ||
      status=$?
    ((status == 0 || status == 124)) || fail "melt failed (status $status) with $*"
    ((status == 0)) && [[ -s $out ]] && break
    echo "note: melt wrote nothing (status $status) on try $try with $*" >&2
  done
  local frame=$((w * h * 4)) size
  size=$(stat -c %s "$out" 2>/dev/null || echo 0)
  frames=$((size / frame))
  ((frames >= 4 && size % frame == 0)) || fail "melt wrote $size bytes"
  head -c "$size" "$work/in.raw" >"$work/in.cut"
}

melt_clip() {  # melt_clip W H FRAMES: in.raw and the same frames as in.nut
  gen "$1" "$2" "$3" "$work/in.raw"
  ffmpeg -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt bgra -video_size "$1x$2" \
    -framerate 25 -i "$work/in.raw" -c:v rawvideo -pix_fmt bgra -y "$work/in.nut"
  profile "$1" "$2"
}

melt_case() {
  melt -query "filter=$id" 2>/dev/null | grep -qx "identifier: $id" || fail "melt did not load $id"

  # An odd width, the parameters set by name.
  local w=101 h=37
  melt_clip $w $h 6
  local -a sets=(
    "0.37 0.62 0.81 1"
    "0 1 1 0"
    "0.58 0.47 0.004 0"
    "0.7 0.3 0 0"
    "1.25 -3 0.66 7"
  )
  # Loaded: a warm setting changes the frames.
  melt_render $w $h "$work/out.raw" Temperature=0.9
  cmp -s "$work/in.cut" "$work/out.raw" && fail "melt left the frames unfiltered"
  local set
  for set in "${sets[@]}"; do
    read -r t m o c <<<"$set"
    melt_render $w $h "$work/out.raw" "Temperature=$t" "Magenta=$m" "Opacity=$o" "Clamp on output=$c"
    # shellcheck disable=SC2046
    expect $w $h "$work/in.cut" "$work/expected.raw" $(tool_controls "$t" "$m" "$o" "$c")
    cmp "$work/expected.raw" "$work/out.raw" || fail "melt $set differs from vemra-render"
    echo "melt ${w}x$h $set: same bytes as vemra-render"
  done

  # Two slices a frame on threads of their own, frames rendered two at once,
  # and a temperature that steps at frame 3 ("|=": held, not interpolated).
  w=101 h=38
  melt_clip $w $h 8
  melt_render $w $h "$work/out.raw" "Temperature=0|=0.5;3|=0.8" Opacity=0.9 threads=2 real_time=-2
  local frame=$((w * h * 4))
  head -c $((3 * frame)) "$work/in.cut" >"$work/before.raw"
  tail -c +$((3 * frame + 1)) "$work/in.cut" >"$work/after.raw"
  # shellcheck disable=SC2046
  expect $w $h "$work/before.raw" "$work/expected.raw" $(tool_controls 0.5 0.5 0.9 0)
  # shellcheck disable=SC2046
  expect $w $h "$work/after.raw" "$work/expected_after.raw" $(tool_controls 0.8 0.5 0.9 0)
  cat "$work/expected_after.raw" >>"$work/expected.raw"
  cmp -s "$work/expected.raw" "$work/out.raw" ||
    fail "melt threads=2 real_time=-2 with a step at frame 3 differs from vemra-render"
  echo "melt ${w}x$h threads=2 real_time=-2, step at frame 3: same bytes as vemra-render, frame for frame"
}

# --- GStreamer ------------------------------------------------------------------
# The wrapper makes an element of each plug-in it finds on FREI0R_PATH, with
# a property per parameter; raw BGRA frames in and out through files, at an
# odd width. Sets: T M O C as frei0r values, the bool as y or n.
gstreamer_case() {
  local element=frei0r-filter-vemra-temperature w=37 h=11
  gst-inspect-1.0 "$element" >/dev/null 2>&1 || fail "GStreamer did not load the plug-in"
  gen $w $h 3 "$work/in.raw"
  run_gst() {
    gst-launch-1.0 -q filesrc location="$work/in.raw" ! \
      rawvideoparse width=$w height=$h format=bgra framerate=25/1 ! "$element" "$@" ! \
      filesink location="$work/out.raw"
  }
  # Loaded: a warm setting changes the frames.
  run_gst temperature=0.9 || fail "GStreamer did not run the plug-in"
  cmp -s "$work/in.raw" "$work/out.raw" && fail "GStreamer left the frames unfiltered"
  local set
  for set in "0.37 0.62 0.81 y" "0.58 0.47 0.004 n" "1 0 0.5 y"; do
    read -r t m o c <<<"$set"
    local clamp=false
    [[ $c == y ]] && clamp=true
    run_gst temperature="$t" magenta="$m" opacity="$o" clamp-on-output=$clamp ||
      fail "GStreamer failed with $set"
    # shellcheck disable=SC2046
    expect $w $h "$work/in.raw" "$work/expected.raw" $(tool_controls "$t" "$m" "$o" "$c")
    cmp "$work/expected.raw" "$work/out.raw" || fail "GStreamer $set differs from vemra-render"
    echo "GStreamer ${w}x$h $set: same bytes as vemra-render"
  done
}

# --- melt's metadata ----------------------------------------------------------
query_case() {
  local yaml
  yaml=$(melt -query "filter=$id" 2>/dev/null)
  grep -qx "identifier: $id" <<<"$yaml" || fail "melt has no metadata for $id: $yaml"
  # Title and type of each parameter, in order.
  local listed
  listed=$(awk '/^  - identifier:/ { n++ } n && /^    title:/ { sub(/^    title: /, ""); t = $0 }
                n && /^    type:/ { print t "=" $2 }' <<<"$yaml" | paste -sd,)
  [[ $listed == "Temperature=float,Magenta=float,Opacity=float,Clamp on output=boolean" ]] ||
    fail "melt lists the parameters as: $listed"
  echo "melt lists $listed"
}

# --- Kdenlive's description -----------------------------------------------------
# Kdenlive 22.12, seen on screen, shows a value that MLT holds as x times
# "factor" and nothing more: it ignores "offset", reads "default" as x, and
# takes "min" and "max" in the units it shows. So per slider: no offset;
# default times factor is the neutral value its label names (100 for the
# opacity); min and max are x = 0 and x = 1, the whole frei0r range and
# nothing the plug-in would clamp.
kdenlive_case() {
  local xml=${3:?description}
  xmllint --noout "$xml" || fail "$xml does not parse"
  local tag
  tag=$(xmllint --xpath 'string(/effect/@tag)' "$xml")
  [[ $tag == "$id" ]] || fail "tag is '$tag', melt's id is $id"
  melt -query "filter=$tag" 2>/dev/null | grep -qx "identifier: $tag" || fail "melt has no $tag"
  local count
  count=$(xmllint --xpath 'count(/effect/parameter)' "$xml")
  [[ $count == 4 ]] || fail "$count parameters"
  # name, type, label, and what Kdenlive shows at the default, at x = 0, x = 1.
  local -a want=("Temperature|animated|Temperature (5 = neutral)|5 0 10"
    "Magenta|animated|Magenta (5 = neutral)|5 0 10"
    "Opacity|animated|Opacity|100 0 100"
    "Clamp on output|bool|Clamp on output|0 - -")
  local i
  for i in 1 2 3 4; do
    local p="/effect/parameter[$i]" attr got
    [[ -z $(xmllint --xpath "string($p/@offset)" "$xml") ]] || fail "parameter $i has an offset"
    got=$(for attr in name type; do xmllint --xpath "string($p/@$attr)" "$xml"; echo "|"; done)
    got=${got//$'\n'/}$(xmllint --xpath "string($p/name)" "$xml")"|"
    got+=$(awk -v d="$(xmllint --xpath "string($p/@default)" "$xml")" \
      -v f="$(xmllint --xpath "string($p/@factor)" "$xml")" \
      -v lo="$(xmllint --xpath "string($p/@min)" "$xml")" \
      -v hi="$(xmllint --xpath "string($p/@max)" "$xml")" 'BEGIN {
        if (f == "") { printf "%.10g - -", d; exit }
        printf "%.10g %.10g %.10g", d * f, lo, hi
        if (lo / f != 0 || hi / f != 1) printf " (x from %.10g to %.10g)", lo / f, hi / f }')
    [[ $got == "${want[i - 1]}" ]] || fail "parameter $i is '$got', not '${want[i - 1]}'"
    echo "Kdenlive parameter $i: $got"
  done
}

# --- Projects saved by the editors ---------------------------------------------
# Each PROJECT.panel beside a project that Kdenlive or Shotcut saved records
# what the effect's panel showed. The panel's values become frei0r values by
# the host's rule, seen on screen: Kdenlive shows x times the description's
# factor (10 for the shifts, 100 for the opacity), Shotcut's panel the
# effect's units (-5 + 10x, 100x percent). Those must be what the project
# stores; and melt's render of the project must be, byte for byte, melt's
# render of it with the filter disabled (the clip at the project's profile)
# through vemra-render at those values.
panel_positions() {  # panel_positions PANEL: "T M O C" as frei0r values
  awk -F= '/^host=/ { host = $2 } /^Temperature=/ { t = $2 } /^Magenta=/ { m = $2 }
    /^Opacity=/ { o = $2 } /^Clamp on output=/ { c = ($2 == "on") }
    END {
      if (host == "kdenlive") printf "%.17g %.17g %.17g %d", t / 10, m / 10, o / 100, c
      else if (host == "shotcut") printf "%.17g %.17g %.17g %d", (t + 5) / 10, (m + 5) / 10, o / 100, c
      else exit 1 }' "$1"
}

# stored PROJECT NAME: the filter's value of NAME, its keyframe time dropped.
stored() {
  xmllint --xpath "string(//filter[property[@name='mlt_service']='$id']/property[@name='$2'])" "$1" |
    sed 's/^.*=//'
}

render_project() {  # render_project PROJECT OUT: three frames as raw BGRA
  timeout 60 melt -silent "$1" out=2 -consumer "avformat:$2" f=rawvideo vcodec=rawvideo \
    pix_fmt=bgra an=1 </dev/null 2>/dev/null || fail "melt could not render $1"
}

projects_case() {
  local folder=${4:?projects folder} project panel x name i width height
  local -a names=(Temperature Magenta Opacity "Clamp on output") positions
  for panel in "$folder"/*.panel; do
    project=
    for project in "${panel%.panel}".{kdenlive,mlt}; do [[ -f $project ]] && break; done
    [[ -f $project ]] || fail "no project for $panel"
    read -r -a positions <<<"$(panel_positions "$panel")" || fail "$panel names no known host"
    for i in 0 1 2 3; do
      name=${names[i]}
      x=$(stored "$project" "$name")
      # The host prints the value it stores with fewer digits than a double.
      awk -v a="$x" -v b="${positions[i]}" 'BEGIN { d = a - b; exit !(a != "" && d * d < 1e-24) }' ||
        fail "$project stores $name=$x, its panel showed what is ${positions[i]}"
    done
    sed "s|<property name=\"mlt_service\">$id</property>|&<property name=\"disable\">1</property>|" \
      "$project" >"$work/plain.${project##*.}"
    render_project "$project" "$work/out.raw"
    render_project "$work/plain.${project##*.}" "$work/plain.raw"
    cmp -s "$work/plain.raw" "$work/out.raw" && fail "$project rendered unfiltered"
    width=$(xmllint --xpath 'string(//profile/@width)' "$project")
    height=$(xmllint --xpath 'string(//profile/@height)' "$project")
    # shellcheck disable=SC2046
    expect "$width" "$height" "$work/plain.raw" "$work/expected.raw" $(tool_controls "${positions[@]}")
    cmp -s "$work/expected.raw" "$work/out.raw" ||
      fail "$project: melt differs from vemra-render $(tool_controls "${positions[@]}")"
    echo "$(basename "$project") at ${width}x$height, $(grep -v '^#' "$panel" | paste -sd' '):" \
      "same bytes as vemra-render $(tool_controls "${positions[@]}")"
  done
}

# --- cmake --install -----------------------------------------------------------
# Into a fresh prefix: the plug-in in lib/frei0r-1 (where hosts search under
# a prefix), loaded by melt from there, and the description in Kdenlive's
# data folder.
install_case() {
  local build=${3:?build folder} prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
  [[ -f $prefix/lib/frei0r-1/vemra_temperature.so ]] || fail "no lib/frei0r-1/vemra_temperature.so"
  [[ -f $prefix/share/kdenlive/effects/frei0r_vemra_temperature.xml ]] ||
    fail "no share/kdenlive/effects/frei0r_vemra_temperature.xml"
  FREI0R_PATH=$prefix/lib/frei0r-1 melt -query "filter=$id" 2>/dev/null |
    grep -qx "identifier: $id" || fail "melt does not load the installed plug-in"
  echo "installed: lib/frei0r-1/vemra_temperature.so, share/kdenlive/effects/frei0r_vemra_temperature.xml"

  # Shotcut's panel: not in a plain install, and with --component shotcut in
  # Shotcut's own folder beside its binary, whatever the prefix.
  ! grep -q '\.qml$' "$build/install_manifest.txt" || fail "a plain install wrote Shotcut's panel"
  local shotcut_bin=/usr/bin
  command -v shotcut >/dev/null && shotcut_bin=$(dirname "$(readlink -f "$(command -v shotcut)")")
  local filters
  filters=$(realpath -m "$shotcut_bin/../share/shotcut/qml/filters")/vemra_temperature
  DESTDIR=$work/root cmake --install "$build" --prefix "$prefix" --component shotcut >/dev/null ||
    fail "cmake --install --component shotcut failed"
  [[ -f $work/root$filters/meta.qml && -f $work/root$filters/ui.qml ]] ||
    fail "Shotcut's panel is not in $filters: $(cd "$work/root" && find . -name '*.qml')"
  grep -q "mlt_service: \"$id\"" "$work/root$filters/meta.qml" || fail "meta.qml does not name $id"
  echo "installed with --component shotcut: $filters/meta.qml, ui.qml"
}

case $case in
  ffmpeg) tool=${3:?vemra-render} && ffmpeg_case ;;
  melt) tool=${3:?vemra-render} && melt_case ;;
  gstreamer) tool=${3:?vemra-render} && gstreamer_case ;;
  query) query_case ;;
  kdenlive) kdenlive_case "$@" ;;
  install) install_case "$@" ;;
  projects)
    tool=${3:?vemra-render}
    # Kdenlive's projects composite with Qt's qtblend, which MLT loads only on
    # an X display: without one, the case runs on a private Xvfb.
    if [[ -z ${DISPLAY:-} ]]; then
      trap - EXIT
      rm -rf "$work"
      exec xvfb-run -a "$0" "$@"
    fi
    projects_case "$@"
    ;;
  *) fail "unknown case $case" ;;
esac
