#!/usr/bin/env bash
# Fails when a sanitizer left a report in FOLDER: the test command points
# AddressSanitizer's and UndefinedBehaviorSanitizer's log_path there, so a
# report survives even when it was raised while a program had its standard
# error silenced (the tool does so while an image library decodes) or when
# the program's exit status happens to be one a test expects. Prints the
# start of each report.
#
#   check-sanitizer-reports.sh FOLDER
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 FOLDER" >&2; exit 2; }
shopt -s nullglob
reports=("$1"/*)
if [[ ${#reports[@]} -eq 0 ]]; then
  echo "no sanitizer report in $1"
  exit 0
fi
for report in "${reports[@]}"; do
  echo "sanitizer report: $report"
  head -n 30 -- "$report" | sed 's/^/  /'
done
echo "${#reports[@]} sanitizer report(s) in $1" >&2
exit 1
