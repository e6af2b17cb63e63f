#!/usr/bin/env bash
# Checks that the manual page and the bash completion made at build time
# know every option the tool's --help prints, and that the completion
# completes: an option from its start, a host from --host's choices.
#
# Usage: check_manual.sh TOOL MANPAGE COMPLETION
#        check_manual.sh --self-test
set -uo pipefail
export LC_ALL=C

# check HELP_TEXT MANPAGE COMPLETION: prints each option missing from either
# file; returns 1 if any is.
check() {
  local help=$1 manpage=$2 completion=$3 missing=0 option
  # The man page's roff, with its escaped hyphens and fonts undone.
  local text
  text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$manpage")
  local words
  words=$(sed -n 's/.*compgen -W "\(-[^"]*\)".*/\1/p' "$completion")
  while read -r option; do
    if ! grep -q -- "$option\b" <<<"$text"; then
      echo "$option: not in the manual page"
      missing=1
    fi
    if [[ " $words " != *" $option "* ]]; then
      echo "$option: not in the completion"
      missing=1
    fi
  done < <(sed -nE 's/^  (-[A-Za-z0-9],)?(--[A-Za-z0-9-]+).*/\2/p' <<<"$help" | sort -u)
  return $missing
}

# completes COMPLETION WORD...: what the completion offers after WORDs.
completes() {
  local completion=$1
  shift
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vemra_render
           echo "${COMPREPLY[*]}"' _ "$completion" vemra-render "$@"
}

self_test() {
  local status=0 report
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  local help=$'Options:\n  -o,--output FILE    Output\n  --frobnicate        New'
  printf '%s\n' '.TP' '\fB\-o\fR,\fB\-\-output\fR FILE' >"$work/page.1"
  printf '%s\n' '_vemra_render() { COMPREPLY=($(compgen -W "-o --output" -- "$cur")); }' \
    >"$work/completion"
  report=$(check "$help" "$work/page.1" "$work/completion") || status=$?
  local expected=$'--frobnicate: not in the manual page\n--frobnicate: not in the completion'
  if [[ $report != "$expected" || $status -ne 1 ]]; then
    echo "self-test: expected '$expected' (status 1), got '$report' (status $status)"
    return 1
  fi
  echo "self-test: an option missing from the page and the completion is reported"
}

if [[ ${1:-} == --self-test ]]; then
  self_test
  exit $?
fi
tool=${1:?usage: check_manual.sh TOOL MANPAGE COMPLETION} manpage=${2:?} completion=${3:?}
failed=0
check "$("$tool" --help)" "$manpage" "$completion" || failed=1
[[ $(completes "$completion" --ho) == "--host" ]] || { echo "'--ho' does not complete to --host"; failed=1; }
[[ $(completes "$completion" --host "") == "ae prmr" ]] ||
  { echo "--host's values do not complete to 'ae prmr'"; failed=1; }
if ((failed == 0)); then echo "manual: the page and the completion know every option of --help"; fi
exit $failed
