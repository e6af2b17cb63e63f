#!/usr/bin/env bash
# Checks the project's layering: every project include ("..." include of a
# path under one of the project's folders) in a C++ file must point into a
# folder that the file's own folder may include, and the image and movie
# libraries' headers (<OpenImageIO/...>, FFmpeg's <libav.../...> and
# <libsw.../...>) may be included only where the table says. Prints each
# include that breaks the rules and exits 1 if there is any.
#
#   folder              may include
#   color/              color/
#   host/               host/
#   resources/          resources/, host/
#   effect/             effect/, color/, host/, resources/
#   frei0r/             frei0r/, color/, resources/
#   sim/                sim/, host/
#   the tool's rooms (tools/vemra-render/...):
#     app/              app/, jobs/, session/, io/, pixels/, run/
#     jobs/             jobs/, session/, io/, pixels/, run/
#     session/          session/, pixels/, run/, sim/, host/
#     io/               io/, pixels/, run/, and the image and movie libraries
#     pixels/           pixels/, run/, sim/, host/
#     run/              run/
#   tests/, bench/      anything
#
# Within io/, the movie stages (movie_demuxer, movie_decoder, movie_encoder,
# movie_muxer, stream_converter) meet only in the jobs that wire them: no stage includes
# another stage's header. FFmpeg's container library (<libavformat/...>)
# is for the demuxer, the muxer and the policy table (movie_policy) alone.
#
# A C++ file in a folder with no row is reported too (a file directly in the
# tool's folder has no room), so that a new folder gets its row instead of
# escaping the check.
#
# Usage: check_includes.sh [ROOT]   check the tree at ROOT (default: this repository)
#        check_includes.sh --self-test
#                                   run the check on small trees made to break
#                                   it, and fail unless it finds exactly the
#                                   includes planted there
set -euo pipefail
export LC_ALL=C

# Where the tool vemra-render lives. Moving the tool is this one line.
tool=tools/vemra-render

# Sets `layer` to the layer a path lies in: "tool/ROOM" for a file in a room
# of the tool's folder, "tool" for one directly in it, otherwise the path's
# first folder.
layer_of() {
  local path=$1 tool_dir=$2
  if [[ $path == "$tool_dir"/* ]]; then
    local rest=${path#"$tool_dir"/}
    if [[ $rest == */* ]]; then layer=tool/${rest%%/*}; else layer=tool; fi
  else
    layer=${path%%/*}
  fi
}

# The layers a layer may include; "*" for anything, nothing for no row.
allowed_for() {
  case $1 in
    color) echo "color" ;;
    host) echo "host" ;;
    resources) echo "resources host" ;;
    effect) echo "effect color host resources" ;;
    frei0r) echo "frei0r color resources" ;;
    sim) echo "sim host" ;;
    tool/app) echo "tool/app tool/jobs tool/session tool/io tool/pixels tool/run" ;;
    tool/jobs) echo "tool/jobs tool/session tool/io tool/pixels tool/run" ;;
    tool/session) echo "tool/session tool/pixels tool/run sim host" ;;
    tool/io) echo "tool/io tool/pixels tool/run libraries" ;;
    tool/pixels) echo "tool/pixels tool/run sim host" ;;
    tool/run) echo "tool/run" ;;
    tests | bench) echo "*" ;;
    *) echo "" ;;
  esac
}

describe() {
  local layer=$1 tool_dir=$2
  case $layer in
    tool) echo "$tool_dir/" ;;
    tool/*) echo "$tool_dir/${layer#tool/}/" ;;
    *) echo "$layer/" ;;
  esac
}

# The image and movie libraries, by the folder of their headers.
library_header='^(OpenImageIO|libav[a-z]*|libsw[a-z]*)/'

# The movie stages, by file name without its ending, and the files that may
# include the container library.
movie_stages=" movie_demuxer movie_decoder movie_encoder movie_muxer stream_converter "
container_library_users=" movie_demuxer movie_muxer movie_policy "

# stage_of PATH: sets `stage` to the movie stage PATH belongs to, or "": a
# stage's file, or one of its own parts (movie_demuxer_open for the demuxer).
stage_of() {
  local base=${1##*/} name
  base=${base%.*}
  stage=""
  [[ $1 == */io/* ]] || return 0
  for name in $movie_stages; do
    [[ $base == "$name" || $base == "${name}"_* ]] && stage=$name
  done
  return 0
}

# uses_container_library BASE: true for a file of the demuxer, the muxer or
# the policy table, or of one of their own parts.
uses_container_library() {
  local name
  for name in $container_library_users; do
    [[ $1 == "$name" || $1 == "${name}"_* ]] && return 0
  done
  return 1
}

# check ROOT TOOL_DIR: prints one line per violation, returns 1 if any.
check() {
  local root=$1 tool_dir=$2 found=0
  local file relative file_layer allowed line text target layer file_stage base
  while IFS= read -r -d '' file; do
    relative=${file#"$root"/}
    layer_of "$relative" "$tool_dir"
    file_layer=$layer
    stage_of "$relative"
    file_stage=$stage
    base=${relative##*/}
    base=${base%.*}
    allowed=$(allowed_for "$file_layer")
    if [[ -z $allowed ]]; then
      echo "$relative: $(describe "$file_layer" "$tool_dir") has no row in the layering table"
      found=1
      continue
    fi
    [[ $allowed == "*" ]] && continue
    while IFS=: read -r line text; do
      if [[ $text =~ \<([^\>]+)\> ]]; then
        target=${BASH_REMATCH[1]}
        if [[ $target =~ $library_header && " $allowed " != *" libraries "* ]]; then
          echo "$relative:$line: includes <$target>, but only $tool_dir/io/ may include the" \
            "image and movie libraries"
          found=1
        elif [[ $target == libavformat/* && $file_layer == tool/io ]] &&
          ! uses_container_library "$base"; then
          echo "$relative:$line: includes <$target>, but only the movie demuxer, muxer and" \
            "policy table may include the container library"
          found=1
        fi
        continue
      fi
      [[ $text =~ \"([^\"]+)\" ]] || continue
      target=${BASH_REMATCH[1]}
      # A project include names a path under one of the tree's folders;
      # anything else (a neighbour without a folder, a system header) is not.
      [[ $target == */* && -d $root/${target%%/*} ]] || continue
      stage_of "$target"
      if [[ -n $file_stage && -n $stage && $stage != "$file_stage" ]]; then
        echo "$relative:$line: includes $target, but a movie stage includes no other stage's" \
          "header"
        found=1
      fi
      layer_of "$target" "$tool_dir"
      if [[ " $allowed " != *" $layer "* ]]; then
        echo "$relative:$line: includes $target, but $(describe "$file_layer" "$tool_dir")" \
          "may include only: ${allowed% libraries}"
        found=1
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "$file" || true)
  done < <(find "$root" \( -path "$root/build" -o -path "$root/build-*" -o -name '.*' \
    -a ! -path "$root" \) -prune -o -type f \
    \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' -o -name '*.inl' \) \
    -print0 | sort -z)
  return $found
}

# Writes FILE (relative to ROOT) with one #include line per further argument:
# "<x/y.h>" as it is, anything else in quotes.
plant() {
  local root=$1 file=$2
  shift 2
  mkdir -p "$(dirname "$root/$file")"
  : >"$root/$file"
  local target
  for target in "$@"; do
    if [[ $target == \<* ]]; then
      echo "#include $target" >>"$root/$file"
    else
      echo "#include \"$target\"" >>"$root/$file"
    fi
  done
}

# Runs the check on ROOT with TOOL_DIR and compares its report with EXPECTED.
expect_report() {
  local name=$1 root=$2 tool_dir=$3 expected=$4 actual status=0
  actual=$(check "$root" "$tool_dir") || status=$?
  if [[ $actual != "$expected" ]]; then
    echo "self-test '$name': report differs"
    diff <(echo "$expected") <(echo "$actual") || true
    return 1
  fi
  if [[ -n $expected && $status -ne 1 ]] || [[ -z $expected && $status -ne 0 ]]; then
    echo "self-test '$name': exit status $status does not match the report"
    return 1
  fi
  echo "self-test '$name': ok"
}

self_test() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  local failed=0

  # Every layer outside the tool with one allowed include and, where it has
  # a limit, one include across it.
  local tree=$work/plug-in
  for folder in color host resources effect sim tests bench; do
    plant "$tree" "$folder/x.h"
  done
  plant "$tree" color/a.cpp color/x.h host/x.h
  plant "$tree" host/a.h host/x.h color/x.h
  plant "$tree" resources/a.h resources/x.h host/x.h effect/x.h
  plant "$tree" effect/a.cpp effect/x.h color/x.h host/x.h resources/x.h sim/x.h
  plant "$tree" sim/a.cpp sim/x.h host/x.h color/x.h
  plant "$tree" tests/a.cpp color/x.h effect/x.h bench/x.h "<OpenImageIO/imageio.h>"
  plant "$tree" bench/a.cpp color/x.h sim/x.h
  plant "$tree" effect/b.cpp neighbour.h "<vector>"  # no folder, a system header: not project includes
  plant "$tree" misc/a.cpp color/x.h
  plant "$tree" build/a.cpp color/x.h  # build output is not checked
  expect_report "the plug-in's folders" "$tree" "$tool" "\
color/a.cpp:2: includes host/x.h, but color/ may include only: color
effect/a.cpp:5: includes sim/x.h, but effect/ may include only: effect color host resources
host/a.h:2: includes color/x.h, but host/ may include only: host
misc/a.cpp: misc/ has no row in the layering table
resources/a.h:3: includes effect/x.h, but resources/ may include only: resources host
sim/a.cpp:3: includes color/x.h, but sim/ may include only: sim host" ||
    failed=1

  # The tool's rooms: each with what it may use and one include across its
  # limit, the libraries' headers outside io/, and a file in no room.
  tree=$work/tool
  local t=$tool
  for room in app jobs session io pixels run; do plant "$tree" "$t/$room/x.h"; done
  for folder in host sim color; do plant "$tree" "$folder/x.h"; done
  plant "$tree" $t/app/a.cpp $t/app/x.h $t/jobs/x.h $t/io/x.h $t/run/x.h sim/x.h
  plant "$tree" $t/jobs/a.cpp $t/session/x.h $t/io/x.h $t/pixels/x.h $t/app/x.h host/x.h
  plant "$tree" $t/session/a.cpp $t/pixels/x.h sim/x.h host/x.h $t/io/x.h
  plant "$tree" $t/io/a.cpp $t/pixels/x.h $t/run/x.h "<OpenImageIO/imageio.h>" \
    "<libavcodec/avcodec.h>" $t/session/x.h
  plant "$tree" $t/pixels/a.cpp $t/run/x.h sim/x.h host/x.h $t/io/x.h
  plant "$tree" $t/run/a.cpp $t/run/x.h $t/pixels/x.h "<thread>" "<libswscale/swscale.h>"
  plant "$tree" $t/jobs/b.cpp "<OpenImageIO/filesystem.h>"
  plant "$tree" $t/loose.cpp $t/run/x.h
  expect_report "the tool's rooms" "$tree" "$tool" "\
$t/app/a.cpp:5: includes sim/x.h, but $t/app/ may include only: tool/app tool/jobs tool/session tool/io tool/pixels tool/run
$t/io/a.cpp:5: includes $t/session/x.h, but $t/io/ may include only: tool/io tool/pixels tool/run
$t/jobs/a.cpp:4: includes $t/app/x.h, but $t/jobs/ may include only: tool/jobs tool/session tool/io tool/pixels tool/run
$t/jobs/a.cpp:5: includes host/x.h, but $t/jobs/ may include only: tool/jobs tool/session tool/io tool/pixels tool/run
$t/jobs/b.cpp:1: includes <OpenImageIO/filesystem.h>, but only $t/io/ may include the image and movie libraries
$t/loose.cpp: $t/ has no row in the layering table
$t/pixels/a.cpp:4: includes $t/io/x.h, but $t/pixels/ may include only: tool/pixels tool/run sim host
$t/run/a.cpp:2: includes $t/pixels/x.h, but $t/run/ may include only: tool/run
$t/run/a.cpp:4: includes <libswscale/swscale.h>, but only $t/io/ may include the image and movie libraries
$t/session/a.cpp:4: includes $t/io/x.h, but $t/session/ may include only: tool/session tool/pixels tool/run sim host" ||
    failed=1

  # The movie stages: one includes another's header, the container library
  # outside its three users; a stage including shared values, and the job
  # wiring every stage, pass.
  tree=$work/stages
  for name in movie_demuxer movie_decoder movie_encoder movie_muxer movie_source; do
    plant "$tree" "$t/io/$name.h"
  done
  plant "$tree" $t/io/movie_decoder.cpp $t/io/movie_decoder.h $t/io/movie_source.h \
    $t/io/movie_demuxer.h "<libavcodec/avcodec.h>" "<libavformat/avformat.h>"
  plant "$tree" $t/io/movie_muxer.cpp $t/io/movie_muxer.h "<libavformat/avformat.h>"
  plant "$tree" $t/io/movie_policy.cpp "<libavformat/avformat.h>"
  plant "$tree" $t/io/movie_demuxer_open.cpp $t/io/movie_demuxer.h "<libavformat/avformat.h>"
  plant "$tree" $t/io/image_files.cpp "<libavformat/avformat.h>"
  plant "$tree" $t/jobs/movie_job.cpp $t/io/movie_demuxer.h $t/io/movie_decoder.h \
    $t/io/movie_encoder.h $t/io/movie_muxer.h
  expect_report "movie stages" "$tree" "$tool" "\
$t/io/image_files.cpp:1: includes <libavformat/avformat.h>, but only the movie demuxer, muxer and policy table may include the container library
$t/io/movie_decoder.cpp:3: includes $t/io/movie_demuxer.h, but a movie stage includes no other stage's header
$t/io/movie_decoder.cpp:5: includes <libavformat/avformat.h>, but only the movie demuxer, muxer and policy table may include the container library" ||
    failed=1

  # The frei0r edition takes the colour core and the host-free declarations,
  # and nothing of the After Effects host, the plug-in or the stand-in host.
  tree=$work/frei0r
  for folder in frei0r color resources host effect sim; do plant "$tree" "$folder/x.h"; done
  plant "$tree" frei0r/a.cpp frei0r/x.h color/x.h resources/x.h host/x.h effect/x.h sim/x.h
  expect_report "frei0r edition" "$tree" "$tool" "\
frei0r/a.cpp:4: includes host/x.h, but frei0r/ may include only: frei0r color resources
frei0r/a.cpp:5: includes effect/x.h, but frei0r/ may include only: frei0r color resources
frei0r/a.cpp:6: includes sim/x.h, but frei0r/ may include only: frei0r color resources" ||
    failed=1

  # A tree that keeps the rules passes.
  tree=$work/clean
  for folder in color host effect; do plant "$tree" "$folder/x.h"; done
  plant "$tree" effect/a.cpp effect/x.h color/x.h host/x.h
  plant "$tree" host/a.h host/x.h
  plant "$tree" $t/io/a.cpp "<OpenImageIO/imageio.h>" "<libavcodec/avcodec.h>"
  expect_report "clean tree" "$tree" "$tool" "" || failed=1

  return $failed
}

if [[ ${1:-} == --self-test ]]; then
  self_test
  exit $?
fi
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
if check "$root" "$tool"; then
  echo "layering: every project include keeps to the table"
else
  exit 1
fi
