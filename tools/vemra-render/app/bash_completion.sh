#!/usr/bin/env bash
# Writes bash completion for vemra-render from the tool's own --help, at
# build time, so that it offers exactly the options the tool has: every
# option after a "-"; after an option that takes a value, the value's
# choices where --help lists them (ae|prmr), file names where it names a
# FILE or PATH, nothing for a free value; file names for the inputs.
#
# Usage: bash_completion.sh TOOL OUTPUT
set -euo pipefail
export LC_ALL=C
tool=$1 output=$2

# "NAMES TYPE" for each option line of --help: "-o,--output FILE".
options=$("$tool" --help | sed -nE 's/^  ((-[A-Za-z0-9],)?--[A-Za-z0-9-]+)( ([^ ]+))?( .*)?$/\1 \4/p')
[[ -n $options ]] || { echo "bash_completion.sh: no options in $tool --help" >&2; exit 1; }

# The options' own lines come first; a later line naming an option again
# (the effect's table of controls in the footer) is not an option line.
declare -A seen=()
words=()
choices=()
files=()
free=()
while read -r names type; do
  IFS=, read -ra spelled <<<"$names"
  [[ -n ${seen[${spelled[-1]}]:-} ]] && continue
  seen[${spelled[-1]}]=1
  words+=("${spelled[@]}")
  [[ -z $type ]] && continue
  pattern=$(IFS='|'; echo "${spelled[*]}")
  case $type in
    FILE | PATH) files+=("$pattern") ;;
    *'|'*)
      # The choices, without a placeholder among them (T in T|auto).
      list=$(tr '|' '\n' <<<"$type" | grep -v '^[A-Z]*$' | tr '\n' ' ')
      choices+=("$pattern) COMPREPLY=(\$(compgen -W \"${list% }\" -- \"\$cur\")); return ;;") ;;
    *) free+=("$pattern") ;;
  esac
done <<<"$options"

join() { local IFS='|'; echo "$*"; }
{
  echo "# bash completion for vemra-render, made from its --help when it was built."
  echo "_vemra_render() {"
  echo '    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}'
  echo '    COMPREPLY=()'
  echo '    case $prev in'
  for choice in "${choices[@]}"; do echo "        $choice"; done
  echo "        $(join "${files[@]}")) COMPREPLY=(\$(compgen -f -- \"\$cur\")); return ;;"
  echo "        $(join "${free[@]}")) return ;;"
  echo '    esac'
  echo '    if [[ $cur == -* ]]; then'
  echo "        COMPREPLY=(\$(compgen -W \"${words[*]}\" -- \"\$cur\"))"
  echo '        return'
  echo '    fi'
  echo '    COMPREPLY=($(compgen -f -- "$cur"))'
  echo '}'
  echo 'complete -o filenames -F _vemra_render vemra-render'
} >"$output"
