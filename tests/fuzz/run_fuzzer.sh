#!/usr/bin/env bash
# Runs one libFuzzer target from its committed seeds.
#
#   run_fuzzer.sh FUZZER SEEDS WORK [--keep] [libFuzzer options...]
#
# By default a bounded, reproducible run, as the test command makes it: a
# fresh scratch corpus in WORK/corpus, -seed=1, so every run tries the same
# inputs; pass -runs=N and/or -max_total_time=S to bound it. With --keep the
# corpus in WORK/corpus is kept and grown across runs and the seed is not
# fixed, for long runs by hand. The committed seeds are only read. A failing
# input is written to WORK/ as crash-*, leak-*, timeout-* or oom-*; rerun it
# with `FUZZER WORK/crash-...`.
set -euo pipefail
[[ $# -ge 3 ]] || { echo "usage: $0 FUZZER SEEDS WORK [--keep] [libFuzzer options...]" >&2; exit 2; }
fuzzer=$1 seeds=$2 work=$3
shift 3
keep=0
if [[ ${1:-} == --keep ]]; then
  keep=1
  shift
fi

corpus=$work/corpus
if [[ $keep -eq 0 ]]; then
  rm -rf -- "$corpus"
  set -- -seed=1 "$@"
fi
mkdir -p -- "$corpus"
# The effect's and the tool's own leak-free paths are checked; OpenImageIO's
# known leak on a failed PNG read is not ours (see tests/render/lsan.supp).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(dirname "$0")/../render/lsan.supp}
exec "$fuzzer" -max_len=1024 -timeout=20 -print_final_stats=1 -artifact_prefix="$work/" \
  "$@" "$corpus" "$seeds"
