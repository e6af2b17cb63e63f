#!/usr/bin/env bash
# Keeps vemra-render's functions to a screen and its files to a sitting:
# runs clang-tidy's readability-function-size over the tool's sources with a
# limit of 80 lines (whitespace and comments counted, and a lambda's lines
# counted in the function that holds it), counts every source and header of
# the tool against a limit of 500 lines, and fails on anything over either.
#
# Usage: check_function_size.sh BUILD_DIR [ROOT]
#            BUILD_DIR holds compile_commands.json of a build of ROOT
#            (default: this repository)
#        check_function_size.sh --self-test
#            runs the check on a small file made to break it, and fails
#            unless it reports exactly the function planted there
set -euo pipefail
export LC_ALL=C

limit=80
file_limit=500
tidy=${CLANG_TIDY:-$(command -v clang-tidy-14 || command -v clang-tidy)}

# check BUILD_DIR FILE...: prints "FILE:LINE: FUNCTION: N lines" for each
# function over the limit; returns 1 if there is any.
check() {
  local build=$1
  shift
  local report
  report=$(printf '%s\0' "$@" | xargs -0 -P "$(nproc)" -n 4 "$tidy" -p "$build" --quiet \
    -checks='-*,readability-function-size' \
    -config="{CheckOptions: [{key: readability-function-size.LineThreshold, value: $limit}]}" \
    --header-filter="${header_filter:-^$}" \
    --extra-arg=-Wno-unknown-warning-option --extra-arg=-Wno-everything 2>/dev/null |
    awk '
      /warning: function .* exceeds recommended size/ {
        match($0, /function '\''[^'\'']*'\''/)
        where = $1; sub(/:[0-9]+:$/, "", where)
        name = substr($0, RSTART + 10, RLENGTH - 11)
      }
      /note: [0-9]+ lines including whitespace/ && name != "" {
        match($0, /[0-9]+ lines/)
        print where ": " name ": " substr($0, RSTART, RLENGTH)
        name = ""
      }' | sort -u)
  if [[ -n $report ]]; then
    echo "$report"
    return 1
  fi
}

# check_file_sizes FILE...: prints "FILE: N lines" for each file over the
# file limit; returns 1 if there is any.
check_file_sizes() {
  local report
  report=$(wc -l "$@" | awk -v limit="$file_limit" '$2 != "total" && $1 > limit {
    print $2 ": " $1 " lines" }')
  if [[ -n $report ]]; then
    echo "$report"
    return 1
  fi
}

self_test() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # clang-tidy counts a function's lines from its opening brace to the line
  # before its closing one: one function of 81 with a lambda inside, one of
  # exactly 80.
  {
    echo "int Long() {"
    echo "    auto add = [](int a) {"
    for i in $(seq 1 77); do echo "        a += $i;"; done
    echo "        return a; };"
    echo "    return add(1);"
    echo "}"
    echo "int Fits() {"
    echo "    int a = 0;"
    for i in $(seq 1 77); do echo "    a += $i;"; done
    echo "    return a;"
    echo "}"
  } >"$work/sizes.cpp"
  printf '[{"directory": "%s", "command": "c++ -std=c++20 -c %s", "file": "%s"}]\n' \
    "$work" "$work/sizes.cpp" "$work/sizes.cpp" >"$work/compile_commands.json"
  local report status=0
  report=$(check "$work" "$work/sizes.cpp") || status=$?
  local expected="$work/sizes.cpp:1: Long: 81 lines"
  if [[ $report != "$expected" || $status -ne 1 ]]; then
    echo "self-test: expected '$expected' (status 1), got '$report' (status $status)"
    return 1
  fi
  echo "self-test: the check reports the 81-line function and passes the 80-line one"
  seq 1 501 >"$work/long.h"
  seq 1 500 >"$work/fits.h"
  status=0
  report=$(check_file_sizes "$work/long.h" "$work/fits.h") || status=$?
  expected="$work/long.h: 501 lines"
  if [[ $report != "$expected" || $status -ne 1 ]]; then
    echo "self-test: expected '$expected' (status 1), got '$report' (status $status)"
    return 1
  fi
  echo "self-test: the check reports the 501-line file and passes the 500-line one"
}

if [[ ${1:-} == --self-test ]]; then
  self_test
  exit $?
fi
build=${1:?usage: check_function_size.sh BUILD_DIR [ROOT]}
root=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
mapfile -t sources < <(find "$root/tools/vemra-render" -name '*.cpp' | sort)
mapfile -t files < <(find "$root/tools/vemra-render" \( -name '*.cpp' -o -name '*.h' \) | sort)
header_filter="^$root/tools/vemra-render/"
failed=0
if check "$build" "${sources[@]}"; then
  echo "function size: every function of the tool is within $limit lines"
else
  echo "function size: the functions above are longer than $limit lines"
  failed=1
fi
if check_file_sizes "${files[@]}"; then
  echo "file size: every file of the tool is within $file_limit lines"
else
  echo "file size: the files above are longer than $file_limit lines"
  failed=1
fi
exit $failed
