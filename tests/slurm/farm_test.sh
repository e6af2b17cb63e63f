#!/usr/bin/env bash
# A sequence rendered on a real Slurm cluster through scripts/slurm-render.sh,
# in chunks, and checked against the same frames rendered in one process;
# then tasks stopped in the middle of their range the two ways a scheduler
# stops them (scancel: SIGTERM; scancel -s KILL), and a resubmission with
# --skip-existing that must complete every frame and leave finished ones
# untouched. The cluster is a private one-machine cluster in a mktemp folder
# (tests/slurm/cluster.sh), removed at the end whatever happens.
#
#   tests/slurm/farm_test.sh PATH/TO/vemra-render
#
# Needs root and the slurm packages (tests/slurm/run.sh sees to both).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tool=$(realpath "$1")
source "$root/tests/slurm/cluster.sh"
if ! reason=$(cluster_can_run); then
  echo "farm test: FAILED: $reason" >&2
  exit 1
fi

work=$(mktemp -d)
cluster="$work/cluster"
mkdir "$cluster"
trap 'cluster_stop "$cluster"; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT  # so that a stage's timeout still runs the clean-up

fail() {
  echo "farm test: FAILED: $*" >&2
  for log in "$work"/logs/*; do
    [[ -f $log ]] && { echo "--- $log" >&2; tail -n 5 "$log" >&2; }
  done
  exit 1
}

# Waits up to SECS seconds for a file matching the glob GLOB to exist.
wait_for_file() {
  local seconds=$1 glob=$2 tries
  for ((tries = 0; tries < seconds * 10; tries++)); do
    compgen -G "$glob" >/dev/null && return 0
    sleep 0.1
  done
  fail "nothing matched $glob after $seconds s"
}

# 12 frames of noise, 160x90 with alpha, and the frames of one process.
frames=12 chunk=3
mkdir -p "$work/in" "$work/out" "$work/reference" "$work/logs"
for ((f = 1; f <= frames; f++)); do
  oiiotool --pattern "noise:type=uniform:min=0:max=1:seed=$f" 160x90 4 -d uint8 \
    -o "$(printf '%s/in/in.%04d.png' "$work" "$f")"
done
steps=(--temperature 0.6 --magenta -0.3 --opacity 80)
"$tool" "$work/in/in.####.png" --frames "1-$frames" -o "$work/reference/out.####.png" \
  "${steps[@]}" -q
job_args=("$work/in/in.####.png" --frames "1-$frames" --chunk "$chunk"
  -o "$work/out/out.####.png" "${steps[@]}" --skip-existing)

cluster_start "$cluster" || fail "the cluster did not start"

# Submits the template; prints the job id.
submit() {
  VEMRA_RENDER="$tool" "$root/scripts/slurm-render.sh" --output="$work/logs/%A_%a.log" \
    -- "${job_args[@]}" "$@"
}

# Every frame decodes to the reference's samples.
check_frames() {
  local f name
  for ((f = 1; f <= frames; f++)); do
    name=$(printf 'out.%04d.png' "$f")
    [[ -f $work/out/$name ]] || fail "$1: $name is missing"
    idiff -q -fail 0 -warn 0 "$work/reference/$name" "$work/out/$name" >/dev/null ||
      fail "$1: $name differs from the frame rendered in one process"
  done
}

# "name inode mtime" of every output: what a rewrite would change.
identities() { (cd "$work/out" && stat -c '%n %i %y' out.*.png); }

# 1. The whole sequence in four tasks.
job=$(submit) || fail "sbatch refused the job"
cluster_wait_jobs 90 "$job" || fail "job $job did not end"
failed=$(cluster_failed_tasks "$job") || fail "cannot read job $job's tasks"
[[ -z $failed ]] || fail "tasks of job $job failed: $failed"
check_frames "in chunks"
for ((task = 1; task <= frames / chunk; task++)); do
  grep -q "task $task of 4 .*: 3 rendered, 0 skipped, 0 failed" "$work/logs/${job}_$task.log" ||
    fail "task $task's log does not count its frames"
  grep -q "^progress: 3/3 frames" "$work/logs/${job}_$task.log" ||
    fail "task $task's log has no progress lines (slurm-render.sh passes --progress lines)"
done
before=$(identities)

# 2. Some outputs deleted; task 3 (frames 7-9) stopped in the middle by
# scancel (SIGTERM). Frame 8 is a pipe with no writer: with two frames in
# flight, frame 7 is written and frame 9 waits in its temporary behind 8.
rm "$work"/out/out.{0002,0005,0007,0008,0009,0011}.png
mv "$work/in/in.0008.png" "$work/in8.png"
mkfifo "$work/in/in.0008.png"
job=$(submit --in-flight 2) || fail "sbatch refused the job"
wait_for_file 60 "$work/out/.out.0009.png.vemra-*"
[[ -f $work/out/out.0007.png ]] || fail "frame 7 is not written before frame 9 is taken"
scancel "${job}_3"
cluster_wait_jobs 60 "$job" || fail "job $job did not end after scancel"
[[ -f $work/out/out.0002.png && -f $work/out/out.0005.png && -f $work/out/out.0011.png ]] ||
  fail "the other tasks did not render their missing frames"
[[ ! -e $work/out/out.0008.png && ! -e $work/out/out.0009.png ]] ||
  fail "frames after the stop were written"
! compgen -G "$work/out/.*vemra*" >/dev/null || fail "SIGTERM left a temporary"

# 3. Stopped again on frame 8 with frame 9 in its temporary, now by SIGKILL,
# which leaves the temporary behind, as a crash or the OOM killer would.
# `scancel -s KILL` alone cancels the job as plain scancel does (SIGTERM,
# then SIGKILL after KillWait); with --batch, SIGKILL goes straight to the
# batch step, which the template has replaced with the tool.
job=$(submit --in-flight 2) || fail "sbatch refused the job"
wait_for_file 60 "$work/out/.out.0009.png.vemra-*"
scancel --batch -s KILL "${job}_3"
cluster_wait_jobs 60 "$job" || fail "job $job did not end after scancel -s KILL"
compgen -G "$work/out/.out.0009.png.vemra-*" >/dev/null ||
  fail "SIGKILL is expected to leave the temporary"

# 4. The same command once more, with the frame back: every frame complete,
# the killed task's temporary gone, untouched frames kept as they were.
rm "$work/in/in.0008.png"
mv "$work/in8.png" "$work/in/in.0008.png"
job=$(submit) || fail "sbatch refused the job"
cluster_wait_jobs 90 "$job" || fail "job $job did not end"
failed=$(cluster_failed_tasks "$job") || fail "cannot read job $job's tasks"
[[ -z $failed ]] || fail "tasks of job $job failed: $failed"
check_frames "after the retry"
! compgen -G "$work/out/.*" >/dev/null || fail "a temporary is left: $(ls -a "$work/out")"
grep -q "removed 1 temporary file(s)" "$work/logs/${job}_3.log" ||
  fail "task 3 did not report the killed run's temporary"
for name in out.0001.png out.0003.png out.0004.png out.0006.png out.0010.png out.0012.png; do
  [[ $(grep "^$name " <<<"$before") == "$(cd "$work/out" && stat -c '%n %i %y' "$name")" ]] ||
    fail "$name was rewritten"
done
echo "farm test: passed"
