#!/usr/bin/env bash
# Runs a Windows console program under Wine, headless, for the cross build's
# tests (the toolchain makes it the build's CMAKE_CROSSCOMPILING_EMULATOR).
#
#   wine-run.sh --prefix DIR PROGRAM [ARGS...]   run PROGRAM in the prefix DIR
#   wine-run.sh --start DIR                      create a fresh prefix DIR
#   wine-run.sh --stop DIR                       stop its wineserver, remove DIR
#
# A test run creates its prefix once before the first test and removes it
# after the last (CTestCustom.cmake in the windows build), so every program
# shares one prefix and nothing is left behind. A program run when DIR does not
# exist gets a prefix of its own in a temporary folder, removed when it ends.
# The exit status is the program's; its printed lines end in LF alone.
set -uo pipefail

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[[ -x $wineserver ]] || wineserver=/usr/lib/wine/wineserver
if [[ ! -x $wine ]]; then
  echo "wine-run: $wine not found; install Debian's wine64 (scripts/install-deps.sh windows)" >&2
  exit 127
fi

# No debug channels, no display, and no prompts to install Mono or Gecko.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Creates a prefix. With "keep", its wineserver and Wine's own background
# services stay up until remove_prefix: programs then start fast, and no
# service started by a program outlives it holding the test's output open.
create_prefix() {
  mkdir -p -- "$1"
  if [[ ${2:-} == keep ]]; then
    WINEPREFIX=$1 "$wineserver" --persistent </dev/null >/dev/null 2>&1
  fi
  WINEPREFIX=$1 "$wine" wineboot --init </dev/null >/dev/null 2>&1
  local status=$?
  if [[ $status -ne 0 || ! -d $1/drive_c ]]; then
    echo "wine-run: could not create a Wine prefix in $1" >&2
    return 1
  fi
}

remove_prefix() {
  [[ -d $1 ]] || return 0
  WINEPREFIX=$1 "$wineserver" --kill >/dev/null 2>&1
  WINEPREFIX=$1 "$wineserver" --wait >/dev/null 2>&1
  rm -rf -- "$1"
}

case ${1:-} in
  --start)
    [[ $# -eq 2 ]] || { echo "usage: $0 --start DIR" >&2; exit 2; }
    remove_prefix "$2"
    create_prefix "$2" keep
    exit
    ;;
  --stop)
    [[ $# -eq 2 ]] || { echo "usage: $0 --stop DIR" >&2; exit 2; }
    remove_prefix "$2"
    exit
    ;;
  --prefix)
    [[ $# -ge 3 ]] || { echo "usage: $0 --prefix DIR PROGRAM [ARGS...]" >&2; exit 2; }
    prefix=$2
    shift 2
    ;;
  *)
    prefix=""
    ;;
esac
[[ $# -ge 1 ]] || { echo "usage: $0 --prefix DIR PROGRAM [ARGS...]" >&2; exit 2; }

# Windows' C runtime ends printed lines with CR LF; readers of the output
# (ctest, GoogleTest's test discovery) expect LF alone.
run() {
  WINEPREFIX=$1 "$wine" "${@:2}" | sed -u 's/\r$//'
  return "${PIPESTATUS[0]}"
}

if [[ -n $prefix && -d $prefix/drive_c ]]; then
  run "$prefix" "$@"
  exit
fi

# No shared prefix: a private one for this program alone.
private=$(mktemp -d "${TMPDIR:-/tmp}/vemra-wine.XXXXXX") || exit 1
trap 'remove_prefix "$private"' EXIT
trap 'exit 130' INT TERM
create_prefix "$private" || exit 1
run "$private" "$@"
