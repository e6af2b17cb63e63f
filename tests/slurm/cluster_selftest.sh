#!/usr/bin/env bash
# Proves tests/slurm/cluster.sh on this machine: a start that fails halfway
# is reported and cleaned up; a started cluster runs an array job's tasks,
# tells failed tasks from good ones, cancels running jobs within KillWait,
# and leaves no process or file behind once stopped.
# Usage: tests/slurm/cluster_selftest.sh   (as root; skips otherwise)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/cluster.sh"

if ! reason=$(cluster_can_run); then
  echo "cluster_selftest: SKIP: $reason"
  exit 0
fi

# Microseconds now, for timings printed in tenths of a second.
now() { echo "${EPOCHREALTIME/./}"; }
since() {
  local us=$(($(now) - $1))
  printf '%d.%d s' $((us / 1000000)) $((us / 100000 % 10))
}
started=$(now)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

scratch=$(mktemp -d)
dir=""
cleanup() {
  [[ -n $dir ]] && cluster_stop "$dir"
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Prints the processes (not zombies) that belong to the cluster in DIR: its
# daemons, job steps and job processes all carry SLURM_CONF or the mark in
# their environment. This shell's own environment is the one it started with,
# which names neither.
leftovers() {
  local d=$1 proc stat
  for proc in /proc/[0-9]*; do
    read -r stat 2>/dev/null <"$proc/stat" || continue
    stat=${stat##*) }
    [[ ${stat:0:1} == Z ]] && continue
    if tr '\0' '\n' 2>/dev/null <"$proc/environ" |
      grep -qxF -e "SLURM_CONF=$d/slurm.conf" -e "VEMRA_SLURM_CLUSTER=$d"; then
      echo "${proc#/proc/} $(tr '\0' ' ' 2>/dev/null <"$proc/cmdline")"
    fi
  done
}

# A slurmd that refuses to start: cluster_start must say so with the logs and
# fail, and cluster_stop must still stop munged and slurmctld.
mkdir "$scratch/bin" "$scratch/partial"
cat >"$scratch/bin/slurmd" <<EOF
#!/bin/sh
[ "\$1" = -C ] && exec $(command -v slurmd) "\$@"
echo "slurmd: refusing to start for the self-test" >&2
exit 1
EOF
chmod +x "$scratch/bin/slurmd"
partial=$(cd "$scratch/partial" && pwd -P)
if PATH=$scratch/bin:$PATH cluster_start "$partial" 2>"$scratch/partial.err"; then
  fail "cluster_start succeeded without a slurmd"
elif ! grep -q 'slurmd exited during start-up' "$scratch/partial.err" ||
  ! grep -q 'refusing to start for the self-test' "$scratch/partial.err"; then
  fail "cluster_start's failure did not show slurmd's log:"
  cat "$scratch/partial.err" >&2
else
  pass "a slurmd that does not start fails cluster_start, with its log"
fi
cluster_stop "$partial" || fail "cluster_stop after a partial start returned $?"
cluster_stop "$partial" || fail "a second cluster_stop returned $?"
[[ ! -e $partial ]] || fail "cluster_stop left $partial"
left=$(leftovers "$partial")
[[ -z $left ]] || fail "processes left after a partial start: $left"
[[ -z ${SLURM_CONF:-} ]] || fail "SLURM_CONF still set after cluster_stop: $SLURM_CONF"

# cluster_stop only removes a directory cluster_start set up.
mkdir "$scratch/foreign"
echo keep >"$scratch/foreign/file"
if cluster_stop "$scratch/foreign" 2>/dev/null || [[ ! -e $scratch/foreign/file ]]; then
  fail "cluster_stop accepted a directory it did not set up"
fi
if cluster_start "$scratch/foreign" 2>/dev/null; then
  fail "cluster_start accepted a directory that is not empty"
fi

dir=$(mktemp -d)
t=$(now)
cluster_start "$dir"
pass "cluster up in $(since "$t") (slurm.conf: $SLURM_CONF)"
daemons=$(cat "$dir"/pids/*)

# Four one-CPU tasks, each writing its own file.
job=$(sbatch --parsable --array=1-4 --output="$dir/array-%a.log" \
  --wrap "echo task \$SLURM_ARRAY_TASK_ID >$dir/out.\$SLURM_ARRAY_TASK_ID")
t=$(now)
if cluster_wait_jobs 60 "$job"; then
  pass "array job $job done in $(since "$t")"
  for task in 1 2 3 4; do
    got=$(cat "$dir/out.$task" 2>/dev/null || echo "(missing)")
    [[ $got == "task $task" ]] || fail "array task $task wrote '$got'"
  done
  if ! report=$(cluster_failed_tasks "$job"); then
    fail "cluster_failed_tasks reports failures for a good array job: $report"
  fi
else
  fail "array job $job did not finish"
fi

# One task fails and one is killed by a signal: exactly those two are named.
job=$(sbatch --parsable --array=1-3 --output=/dev/null \
  --wrap 'case $SLURM_ARRAY_TASK_ID in 2) exit 3 ;; 3) kill -KILL $$ ;; esac')
if cluster_wait_jobs 60 "$job"; then
  status=0
  report=$(cluster_failed_tasks "$job") || status=$?
  expected=$'2 FAILED 3:0\n3 FAILED 0:9'
  if [[ $status -ne 1 || $(sort <<<"$report") != "$expected" ]]; then
    fail "cluster_failed_tasks returned $status with '$report', wanted 1 with '$expected'"
  else
    pass "cluster_failed_tasks names the failed and the killed task"
  fi
else
  fail "array job $job with failing tasks did not finish"
fi
status=0
cluster_failed_tasks 999999 >/dev/null || status=$?
[[ $status -eq 2 ]] || fail "cluster_failed_tasks on an unknown job returned $status, wanted 2"

# A running job is cancelled, by plain scancel and by scancel -s KILL. Slurm
# sends SIGCONT and SIGTERM to the job's processes, and SIGKILL after
# KillWait (5 s), so the 300 s sleep must be gone long before it would end.
for how in scancel "scancel -s KILL"; do
  read -ra command <<<"$how"
  job=$(sbatch --parsable --output=/dev/null --wrap 'sleep 300')
  t=$SECONDS
  until [[ $(squeue -h -j "$job" -o %T 2>/dev/null) == RUNNING ]]; do
    if ((SECONDS - t > 20)); then
      fail "job $job did not start"
      break
    fi
    sleep 0.2
  done
  status=0
  cluster_failed_tasks "$job" >/dev/null || status=$?
  [[ $status -eq 2 ]] || fail "cluster_failed_tasks on a running job returned $status, wanted 2"
  if [[ $how == scancel ]] && cluster_wait_jobs 1 "$job" 2>/dev/null; then
    fail "cluster_wait_jobs returned 0 while job $job still ran"
  fi
  t=$(now)
  "${command[@]}" "$job"
  if cluster_wait_jobs 20 "$job"; then
    report=$(cluster_failed_tasks "$job") || true
    if [[ $report == "- CANCELLED "* ]]; then
      pass "$how ended a running job in $(since "$t")"
    else
      fail "job $job after $how: '$report', wanted CANCELLED"
    fi
  else
    fail "$how did not end job $job"
  fi
done

# A job still running when the cluster stops is cancelled with it, and so is
# the orphan it started, which has left the job's process tree.
job=$(sbatch --parsable --output=/dev/null --wrap '(sleep 300 &); sleep 300')
t=$SECONDS
until [[ $(squeue -h -j "$job" -o %T 2>/dev/null) == RUNNING ]] || ((SECONDS - t > 20)); do
  sleep 0.2
done
sleep 0.5
t=$(now)
stopped=$dir
dir=""
cluster_stop "$stopped" || fail "cluster_stop returned $?"
pass "cluster stopped in $(since "$t")"
cluster_stop "$stopped" || fail "a second cluster_stop returned $?"
[[ ! -e $stopped ]] || fail "cluster_stop left $stopped"
while read -r pid start; do
  if _cluster_alive "$pid" "$start"; then
    fail "daemon $pid still runs: $(tr '\0' ' ' <"/proc/$pid/cmdline")"
  fi
done <<<"$daemons"
left=$(leftovers "$stopped")
[[ -z $left ]] || fail "processes left after cluster_stop: $left"

echo "cluster_selftest: $(since "$started"), $failures failure(s)"
[[ $failures -eq 0 ]]
