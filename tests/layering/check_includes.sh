#!/usr/bin/env bash
# Checks the project's layering: every project include ("..." include of a
# path under one of the project's folders) in a C++ file must point into a
# folder that the file's own folder may include. Prints each include that
# breaks the rules and exits 1 if there is any.
#
#   folder              may include
#   color/              color/
#   host/               host/
#   resources/          resources/, host/
#   effect/             effect/, color/, host/, resources/
#   frei0r/             frei0r/, color/, resources/
#   sim/                sim/, host/
#   the tool            the tool, sim/, host/
#   tests/, bench/      anything
#
# A C++ file in a folder with no row is reported too, so that a new folder
# gets its row instead of escaping the check.
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

# Sets `layer` to the folder a path lies in, as a layer name: "tool" inside
# the tool's folder (which may sit inside sim/), otherwise its first folder.
layer_of() {
  local path=$1 tool_dir=$2
  if [[ $path == "$tool_dir"/* ]]; then layer=tool; else layer=${path%%/*}; fi
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
    tool) echo "tool sim host" ;;
    tests | bench) echo "*" ;;
    *) echo "" ;;
  esac
}

describe() {
  local layer=$1 tool_dir=$2
  if [[ $layer == tool ]]; then echo "the tool ($tool_dir/)"; else echo "$layer/"; fi
}

# check ROOT TOOL_DIR: prints one line per violation, returns 1 if any.
check() {
  local root=$1 tool_dir=$2 found=0
  local file relative file_layer allowed line text target layer
  while IFS= read -r -d '' file; do
    relative=${file#"$root"/}
    layer_of "$relative" "$tool_dir"
    file_layer=$layer
    allowed=$(allowed_for "$file_layer")
    if [[ -z $allowed ]]; then
      echo "$relative: $file_layer/ has no row in the layering table"
      found=1
      continue
    fi
    [[ $allowed == "*" ]] && continue
    while IFS=: read -r line text; do
      [[ $text =~ \"([^\"]+)\" ]] || continue
      target=${BASH_REMATCH[1]}
      # A project include names a path under one of the tree's folders;
      # anything else (a neighbour without a folder, a system header) is not.
      [[ $target == */* && -d $root/${target%%/*} ]] || continue
      layer_of "$target" "$tool_dir"
      if [[ " $allowed " != *" $layer "* ]]; then
        echo "$relative:$line: includes $target, but $(describe "$file_layer" "$tool_dir")" \
          "may include only: $allowed"
        found=1
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
  done < <(find "$root" \( -path "$root/build" -o -path "$root/build-*" -o -name '.*' \
    -a ! -path "$root" \) -prune -o -type f \
    \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' -o -name '*.inl' \) \
    -print0 | sort -z)
  return $found
}

# Writes FILE (relative to ROOT) with one #include line per further argument.
plant() {
  local root=$1 file=$2
  shift 2
  mkdir -p "$(dirname "$root/$file")"
  : >"$root/$file"
  local target
  for target in "$@"; do echo "#include \"$target\"" >>"$root/$file"; done
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

  # Every layer with one allowed include and, where it has a limit, one
  # include across it. Two headers per folder exist to be included.
  local tree=$work/today
  for folder in color host resources effect sim sim/render tests bench; do
    plant "$tree" "$folder/x.h"
  done
  plant "$tree" color/a.cpp color/x.h host/x.h
  plant "$tree" host/a.h host/x.h color/x.h
  plant "$tree" resources/a.h resources/x.h host/x.h effect/x.h
  plant "$tree" effect/a.cpp effect/x.h color/x.h host/x.h resources/x.h sim/x.h
  plant "$tree" sim/a.cpp sim/x.h host/x.h sim/render/x.h color/x.h
  plant "$tree" sim/render/a.cpp sim/render/x.h sim/x.h host/x.h color/x.h effect/x.h
  plant "$tree" tests/a.cpp color/x.h effect/x.h sim/render/x.h bench/x.h
  plant "$tree" bench/a.cpp color/x.h sim/render/x.h
  plant "$tree" effect/b.cpp neighbour.h  # no folder: not a project include
  plant "$tree" misc/a.cpp color/x.h
  plant "$tree" build/a.cpp color/x.h  # build output is not checked
  expect_report "tool in sim/render" "$tree" sim/render "\
color/a.cpp:2: includes host/x.h, but color/ may include only: color
effect/a.cpp:5: includes sim/x.h, but effect/ may include only: effect color host resources
host/a.h:2: includes color/x.h, but host/ may include only: host
misc/a.cpp: misc/ has no row in the layering table
resources/a.h:3: includes effect/x.h, but resources/ may include only: resources host
sim/a.cpp:3: includes sim/render/x.h, but sim/ may include only: sim host
sim/a.cpp:4: includes color/x.h, but sim/ may include only: sim host
sim/render/a.cpp:4: includes color/x.h, but the tool (sim/render/) may include only: tool sim host
sim/render/a.cpp:5: includes effect/x.h, but the tool (sim/render/) may include only: tool sim host" ||
    failed=1

  # The tool moved to its own folder: sim/ may no longer include it, and it
  # keeps the tool's rules.
  tree=$work/moved
  for folder in host sim tools/vemra-render; do plant "$tree" "$folder/x.h"; done
  plant "$tree" sim/a.cpp sim/x.h host/x.h tools/vemra-render/x.h
  plant "$tree" tools/vemra-render/a.cpp tools/vemra-render/x.h sim/x.h host/x.h color/x.h
  mkdir -p "$tree/color"
  expect_report "tool in tools/vemra-render" "$tree" tools/vemra-render "\
sim/a.cpp:3: includes tools/vemra-render/x.h, but sim/ may include only: sim host
tools/vemra-render/a.cpp:4: includes color/x.h, but the tool (tools/vemra-render/) may include only: tool sim host" ||
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
