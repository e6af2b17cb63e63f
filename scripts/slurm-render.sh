#!/usr/bin/env bash
# Renders a frame sequence on a Slurm cluster as an array job, one task per
# chunk of frames. Run it on a submit host: it asks vemra-render how many
# tasks the sequence needs and submits itself with `sbatch --array`; each
# task then runs vemra-render on its own chunk (`--task auto`, which reads
# SLURM_ARRAY_TASK_ID).
#
#   scripts/slurm-render.sh [SBATCH-OPTION... --] VEMRA-RENDER-ARGUMENT...
#
#   scripts/slurm-render.sh --partition=render --time=1:00:00 -- \
#     /shared/plate.####.exr --frames 1001-1240 --chunk 10 \
#     -o /shared/graded.####.exr --temperature 0.4 --skip-existing
#
# The vemra-render arguments must include --chunk N and an input frame
# pattern; with --skip-existing, submitting the same command again renders
# only the frames that are missing. Paths must be the same on every node.
# Prints the job id on standard output.
#
# Environment: VEMRA_RENDER, the tool to run (default: vemra-render on PATH,
# else the release build beside this script); sbatch's own SBATCH_* variables
# set defaults for its options.
#
# Defaults for every task, which sbatch options override:
#SBATCH --job-name=vemra-render
#SBATCH --output=vemra-render-%A_%a.log
set -euo pipefail

if [[ -n ${SLURM_ARRAY_TASK_ID:-} ]]; then
  # In a task. Without CPU binding on the cluster, the CPUs granted to the
  # task are still its thread count, not the whole node's.
  threads=()
  if [[ -n ${SLURM_CPUS_PER_TASK:-} && " $* " != *" --threads "* ]]; then
    threads=(--threads "$SLURM_CPUS_PER_TASK")
  fi
  # A line per tenth of the chunk in the task's log, for the farm's manager.
  progress=()
  [[ " $* " == *" --progress "* ]] || progress=(--progress lines)
  exec "$VEMRA_RENDER" "$@" "${threads[@]}" "${progress[@]}" --task auto
fi

sbatch_options=()
if [[ " $* " == *" -- "* ]]; then
  while [[ $1 != -- ]]; do
    sbatch_options+=("$1")
    shift
  done
  shift
fi
if [[ $# -eq 0 ]]; then
  sed -n '2,/^set -euo/p' "$0" | sed -e '/^set -euo/d' -e 's/^# \{0,1\}//' >&2
  exit 2
fi

if [[ -z ${VEMRA_RENDER:-} ]]; then
  VEMRA_RENDER=$(command -v vemra-render ||
    echo "$(cd "$(dirname "$0")/.." && pwd)/build/release/tools/vemra-render/vemra-render")
fi
[[ -x $VEMRA_RENDER ]] || {
  echo "slurm-render: no vemra-render at $VEMRA_RENDER; set VEMRA_RENDER" >&2
  exit 2
}
# The tasks run the same tool: sbatch passes the environment on.
VEMRA_RENDER=$(realpath "$VEMRA_RENDER")
export VEMRA_RENDER

tasks=$("$VEMRA_RENDER" "$@" --print-tasks)
echo "slurm-render: submitting tasks $tasks" >&2
exec sbatch --parsable --array="$tasks" "${sbatch_options[@]}" "$0" "$@"
