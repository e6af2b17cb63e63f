# Starts and stops a private one-machine Slurm cluster for a test.
# Source this file; it is not meant to be run. Needs root and Debian's
# slurm-wlm and munge packages (scripts/install-deps.sh slurm).
#
#   cluster_can_run                 0 if this machine can host a cluster, else
#                                   prints one line saying why not and returns 1
#   cluster_start DIR               DIR: an empty directory (mktemp -d). Starts
#                                   munged, slurmctld and slurmd with every file
#                                   inside DIR, exports SLURM_CONF, and returns
#                                   once the node is idle; nonzero (logs on
#                                   stderr) if that does not happen in time
#   cluster_wait_jobs SECS JOBID... waits until the jobs (an array job's id
#                                   stands for all its tasks, ID_TASK for one)
#                                   have left the queue; nonzero on timeout
#   cluster_failed_tasks JOBID      lists the tasks of a finished job that did
#                                   not complete with exit code 0
#   cluster_stop DIR                cancels every job, stops the daemons and
#                                   removes DIR; safe to call again, and after
#                                   a start that failed halfway
#
# A caller sets `trap 'cluster_stop "$dir"' EXIT` before cluster_start; a
# shell killed by a signal it does not trap runs no EXIT trap, so a caller
# that may be interrupted also traps INT and TERM with an exit.
#
# The cluster is isolated from any real one on the machine: its own ports,
# munge socket and key, state and spool directories, and SLURM_CONF pointing
# at its own slurm.conf, so client commands (sbatch, squeue, scancel, sinfo,
# scontrol) reach only it. Nothing under /etc, /run or /var is written.
#
# Every function keeps working under a caller's `set -euo pipefail`: failures
# it expects are handled, and it reports through its return status. Every wait
# has a hard limit, and every client command runs under `timeout`, because a
# controller that stopped answering must not hang a test.

# Seconds a client command may take before it counts as failed.
_cluster_cmd_timeout=10

# Reads PID's start time (field 22 of /proc/PID/stat) so that a recorded PID
# is only ever signalled while it still names the process we started, not a
# later one that reused the number. Prints nothing for a missing process.
_cluster_start_time() {
  local stat
  local -a fields
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 0
  # The command name (field 2) may hold spaces; the fields after it do not.
  read -ra fields <<<"${stat##*) }"
  echo "${fields[19]}"
}

# True while the recorded process runs (a zombie counts as gone).
_cluster_alive() {
  local pid=$1 started=$2 stat
  [[ -n $started && $(_cluster_start_time "$pid") == "$started" ]] || return 1
  read -r stat 2>/dev/null <"/proc/$pid/stat" || return 1
  stat=${stat##*) }
  [[ ${stat:0:1} != Z ]]
}

# Starts a daemon as a background child of the calling shell and records its
# PID and start time in DIR/pids/NAME. The shell reaps it when it ends (so no
# zombie is left where init does not reap), and disown keeps it out of the
# shell's job table, so a caller's bare `wait` does not wait for it. Its
# output goes to DIR/log/NAME.out, so it holds none of the caller's pipes.
_cluster_spawn() {
  local dir=$1 name=$2 pid
  shift 2
  "$@" </dev/null >>"$dir/log/$name.out" 2>&1 &
  pid=$!
  disown "$pid" 2>/dev/null || true
  echo "$pid $(_cluster_start_time "$pid")" >"$dir/pids/$name"
}

# Stops the daemon recorded as NAME: SIGTERM, up to SECS seconds, then SIGKILL.
_cluster_kill() {
  local dir=$1 name=$2 secs=$3 pid started i
  [[ -s $dir/pids/$name ]] || return 0
  read -r pid started <"$dir/pids/$name" || return 0
  if [[ -n ${started:-} ]] && _cluster_alive "$pid" "$started"; then
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < secs * 5; i++)); do
      _cluster_alive "$pid" "$started" || break
      sleep 0.2
    done
    if _cluster_alive "$pid" "$started"; then
      echo "cluster: $name (pid $pid) ignored SIGTERM for ${secs}s; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      for ((i = 0; i < 25; i++)); do
        _cluster_alive "$pid" "$started" || break
        sleep 0.2
      done
    fi
  fi
  rm -f "$dir/pids/$name"
}

# Prints the tail of every log of the cluster to stderr. In the foreground
# slurmctld and slurmd copy their log file to stderr, so NAME.out is shown
# only when NAME.log is missing (a failure before the log was opened).
_cluster_dump_logs() {
  local dir=$1 log
  for log in "$dir"/log/*; do
    [[ -s $log ]] || continue
    [[ $log == *.out && -s ${log%.out}.log ]] && continue
    echo "----- $log (last 40 lines)" >&2
    tail -n 40 "$log" >&2 || true
  done
}

# True if some TCP socket (any state, IPv4 or IPv6) is bound to PORT. Reads
# /proc so that no tool beyond coreutils and awk is needed.
_cluster_port_used() {
  local hex
  hex=$(printf '%04X' "$1")
  awk -v p=":$hex" 'FNR > 1 && substr($2, length($2) - 4) == p { found = 1 }
    END { exit !found }' /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# Picks two adjacent free ports for slurmctld and slurmd. The search starts at
# a place derived from the PID, below the kernel's ephemeral range, so that
# two test runs at once, or a real cluster on 6817/6818, do not meet. A port
# taken between this check and the daemon's bind makes the start fail with
# the daemon's log shown, not hang.
_cluster_pick_ports() {
  local port tries
  port=$((20000 + ($$ % 5000) * 2))
  for ((tries = 0; tries < 500; tries++)); do
    if ! _cluster_port_used "$port" && ! _cluster_port_used $((port + 1)); then
      echo "$port $((port + 1))"
      return 0
    fi
    port=$((port + 2))
    ((port < 30000)) || port=20000
  done
  echo "cluster: found no two free adjacent ports in 20000-30000" >&2
  return 1
}

cluster_can_run() {
  if [[ $(id -u) -ne 0 ]]; then
    echo "not root: slurmd must run as root to start jobs, and munged and slurmctld run as root beside it"
    return 1
  fi
  local tool
  for tool in munged mungekey slurmctld slurmd sbatch squeue scancel sinfo scontrol; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "$tool not found (scripts/install-deps.sh slurm)"
      return 1
    fi
  done
  return 0
}

cluster_start() {
  local dir=${1:-}
  if [[ -z $dir || ! -d $dir || $dir == *[[:space:]]* ]]; then
    echo "cluster_start: need an existing directory with no spaces in its path, got '$dir'" >&2
    return 2
  fi
  dir=$(cd "$dir" && pwd -P) || return 2
  if [[ -n $(ls -A "$dir") ]]; then
    echo "cluster_start: $dir is not empty" >&2
    return 2
  fi
  local reason
  if ! reason=$(cluster_can_run); then
    echo "cluster_start: $reason" >&2
    return 1
  fi
  # Marks DIR as ours, so that cluster_stop removes only what it was given by
  # a cluster_start.
  : >"$dir/.slurm-test-cluster"
  mkdir -p "$dir/munge" "$dir/log" "$dir/pids" "$dir/state" "$dir/spool" "$dir/run" || return 1

  # Client commands and the daemons take the configuration from SLURM_CONF.
  # Settings a caller's environment might carry for another cluster (a
  # partition, an output format, a cluster name) would change what the
  # clients do or print, so they are dropped.
  local var
  for var in $(compgen -v | grep -E '^(SLURM|SBATCH|SALLOC|SRUN|SQUEUE|SINFO|SCANCEL|SCONTROL)_' || true); do
    unset "$var" 2>/dev/null || true
  done
  export SLURM_CONF=$dir/slurm.conf

  # munged refuses a socket whose directory is not searchable by everyone;
  # DIR from mktemp -d is 0700 and every client here runs as root, so --force
  # accepts it instead of opening DIR up. In the foreground munged logs to
  # stderr, which _cluster_spawn keeps in DIR/log/munged.out.
  local socket=$dir/munge/munge.socket
  if ! mungekey --create --keyfile="$dir/munge/munge.key" >"$dir/log/mungekey.out" 2>&1; then
    echo "cluster_start: mungekey failed:" >&2
    cat "$dir/log/mungekey.out" >&2
    return 1
  fi
  chmod 0400 "$dir/munge/munge.key"
  _cluster_spawn "$dir" munged munged --foreground --force \
    --socket="$socket" --key-file="$dir/munge/munge.key" \
    --pid-file="$dir/munge/munged.pid" --seed-file="$dir/munge/munged.seed"

  # The node's shape comes from slurmd -C. It runs with SLURM_CONF already
  # pointing into DIR (not yet written), so no system-wide slurm.conf is read.
  local host node_line ports ctld_port slurmd_port
  host=$(hostname -s)
  node_line=$(timeout "$_cluster_cmd_timeout" slurmd -C 2>"$dir/log/slurmd-C.out" | head -n 1) || true
  if [[ $node_line != NodeName=* ]]; then
    echo "cluster_start: slurmd -C printed no node line" >&2
    _cluster_dump_logs "$dir"
    return 1
  fi
  local field cpus=1 sockets=1 cores=1 threads=1 memory=1
  for field in $node_line; do
    case $field in
      CPUs=*) cpus=${field#*=} ;;
      SocketsPerBoard=*) sockets=${field#*=} ;;
      CoresPerSocket=*) cores=${field#*=} ;;
      ThreadsPerCore=*) threads=${field#*=} ;;
      RealMemory=*) memory=${field#*=} ;;
    esac
  done
  ports=$(_cluster_pick_ports) || return 1
  read -r ctld_port slurmd_port <<<"$ports"

  # proctrack/linuxproc and task/none track and signal a job's processes
  # through /proc alone, so neither cgroups nor an init system is needed.
  # cons_tres with CR_CPU hands out single CPUs, so one-CPU array tasks run
  # side by side. A cancelled job's processes get SIGCONT and SIGTERM, then
  # SIGKILL after KillWait seconds, so a cancel takes at most about 5 s.
  # batch_sched_delay=0 lets the scheduler start a submitted job on its next
  # one-second pass instead of batching submissions for 3 s. SlurmdTimeout
  # stays at 30 s, not less: a node slow to answer while its CPUs are busy
  # with a test's work would otherwise be marked down and its jobs killed;
  # ReturnToService=2 brings such a node back when its slurmd registers.
  cat >"$dir/slurm.conf" <<EOF
ClusterName=vemra-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
MpiDefault=none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MailProg=/bin/true
ReturnToService=2
SlurmdTimeout=30
MessageTimeout=5
KillWait=5
InactiveLimit=0
SchedulerParameters=batch_sched_delay=0
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus Sockets=$sockets CoresPerSocket=$cores ThreadsPerCore=$threads RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF

  # Both daemons stay in the foreground (-D) so the recorded PID is theirs.
  # VEMRA_SLURM_CLUSTER marks slurmstepd processes, which inherit slurmd's
  # environment, so cluster_stop can find any it leaves behind.
  _cluster_spawn "$dir" slurmctld env VEMRA_SLURM_CLUSTER="$dir" \
    slurmctld -D -f "$dir/slurm.conf"
  _cluster_spawn "$dir" slurmd env VEMRA_SLURM_CLUSTER="$dir" \
    slurmd -D -f "$dir/slurm.conf" -N "$host"

  # Waits for the node to come up idle, polling often: this is most of a
  # test's start-up time.
  local deadline=$((SECONDS + 30)) state="" name pid started
  while ((SECONDS < deadline)); do
    for name in munged slurmctld slurmd; do
      read -r pid started <"$dir/pids/$name" || true
      if ! _cluster_alive "$pid" "${started:-}"; then
        echo "cluster_start: $name exited during start-up" >&2
        _cluster_dump_logs "$dir"
        return 1
      fi
    done
    state=$(timeout "$_cluster_cmd_timeout" sinfo -h -N -n "$host" -o %T 2>/dev/null) || true
    if [[ $state == idle ]]; then
      return 0
    fi
    sleep 0.2
  done
  echo "cluster_start: node $host not idle after 30s (state '${state}')" >&2
  _cluster_dump_logs "$dir"
  return 1
}

# Prints the queue entries (array tasks one a line) of the given jobs that
# are still pending, running or completing. Fails if squeue does.
_cluster_queued() {
  local out
  out=$(timeout "$_cluster_cmd_timeout" squeue -h -r -o '%F %i %T' 2>/dev/null) || return 1
  [[ $# -eq 0 ]] && { printf '%s' "$out"; return 0; }
  awk -v ids=" $* " 'index(ids, " " $1 " ") || index(ids, " " $2 " ")' <<<"$out"
}

cluster_wait_jobs() {
  local secs=${1:-} deadline left=""
  if [[ ! $secs =~ ^[0-9]+$ || $# -lt 2 ]]; then
    echo "cluster_wait_jobs: usage: cluster_wait_jobs SECONDS JOBID..." >&2
    return 2
  fi
  shift
  deadline=$((SECONDS + secs))
  while :; do
    # A failed squeue leaves "left" as it was and counts as not done yet.
    if left=$(_cluster_queued "$@"); then
      [[ -z $left ]] && return 0
    fi
    ((SECONDS < deadline)) || break
    sleep 0.2
  done
  echo "cluster_wait_jobs: jobs $* still queued after ${secs}s:" >&2
  timeout "$_cluster_cmd_timeout" squeue -r >&2 || true
  local dir=${SLURM_CONF:-}
  dir=${dir%/slurm.conf}
  local log
  for log in "$dir/log/slurmctld.log" "$dir/log/slurmd.log"; do
    [[ -s $log ]] || continue
    echo "----- $log (last 20 lines)" >&2
    tail -n 20 "$log" >&2 || true
  done
  return 1
}

# Without accounting, slurmctld keeps a finished job's record, with each array
# task's state and exit code, for MinJobAge (300 s by default) and then
# forgets it; sacct cannot help. So this must be called soon after the job
# ends. Prints "TASK STATE EXITCODE" for each task (or "- ..." for a job that
# is no array) that did not complete with exit code 0:0 (exit status:signal).
# A cancelled job is CANCELLED even when its script exited 0, which happens
# when the SIGCONT of the cancel ends the script's `wait` before the SIGTERM
# arrives. Returns 0 if none failed, 1 if some did, 2 if it cannot tell: the
# job is unknown, already forgotten, or still has tasks queued. A caller that
# needs more can have each task write its own result file.
cluster_failed_tasks() {
  local job=${1:-} out line field task state code failed=0 seen=0
  [[ -n $job ]] || { echo "cluster_failed_tasks: usage: cluster_failed_tasks JOBID" >&2; return 2; }
  out=$(_cluster_queued "$job") || return 2
  [[ -z $out ]] || return 2
  out=$(timeout "$_cluster_cmd_timeout" scontrol -o show job "$job" 2>/dev/null) || return 2
  while IFS= read -r line; do
    [[ -n $line ]] || continue
    task=- state="" code=""
    for field in $line; do
      case $field in
        ArrayTaskId=*) task=${field#*=} ;;
        JobState=*) state=${field#*=} ;;
        ExitCode=*) code=${field#*=} ;;
      esac
    done
    seen=1
    if [[ $state != COMPLETED || $code != 0:0 ]]; then
      echo "$task $state $code"
      failed=1
    fi
  done <<<"$out"
  ((seen)) || return 2
  return "$failed"
}

# Kills what the cluster's jobs left running once its daemons are gone:
# slurmstepd processes of this slurmd (found by the mark cluster_start put in
# slurmd's environment) with every process below them, and job processes
# that left the step's process tree (a daemonised or orphaned child, which
# proctrack/linuxproc no longer sees), found by the job id Slurm gave them
# together with this cluster's SLURM_CONF, which sbatch passes on. A shell
# of the caller has SLURM_CONF but no job id, so it is never taken.
_cluster_kill_strays() {
  local dir=$1 proc pid ppid stat environ comm
  local -a steps=() victims=() fields
  local -A children=()
  for proc in /proc/[0-9]*; do
    pid=${proc#/proc/}
    read -r stat 2>/dev/null <"$proc/stat" || continue
    read -ra fields <<<"${stat##*) }"
    children[${fields[1]}]+=" $pid"
  done
  for environ in $(grep -slzxF "VEMRA_SLURM_CLUSTER=$dir" /proc/[0-9]*/environ || true); do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    comm=""
    read -r comm 2>/dev/null <"/proc/$pid/comm" || true
    [[ $comm == slurmstepd ]] && steps+=("$pid")
  done
  # Collects each step's descendants before killing any, since a killed
  # process's children move to another parent.
  local -a queue=("${steps[@]}")
  while [[ ${#queue[@]} -gt 0 ]]; do
    pid=${queue[0]}
    queue=("${queue[@]:1}")
    victims+=("$pid")
    for ppid in ${children[$pid]:-}; do queue+=("$ppid"); done
  done
  for environ in $(grep -slzxF "SLURM_CONF=$dir/slurm.conf" /proc/[0-9]*/environ || true); do
    grep -qszE '^SLURM_JOB_ID=[0-9]+$' "$environ" || continue
    pid=${environ#/proc/}
    victims+=("${pid%/environ}")
  done
  local -a kill=()
  for pid in "${victims[@]}"; do
    [[ $pid == "$$" || $pid == "$BASHPID" ]] || kill+=("$pid")
  done
  [[ ${#kill[@]} -gt 0 ]] || return 0
  echo "cluster: killing leftover job processes ${kill[*]}" >&2
  kill -KILL "${kill[@]}" 2>/dev/null || true
}

cluster_stop() {
  local dir=${1:-}
  [[ -n $dir && -d $dir ]] || return 0
  dir=$(cd "$dir" && pwd -P) || return 0
  if [[ $dir == / || ( ! -e $dir/.slurm-test-cluster && -n $(ls -A "$dir" 2>/dev/null) ) ]]; then
    echo "cluster_stop: $dir was not set up by cluster_start; leaving it alone" >&2
    return 1
  fi
  local conf=$dir/slurm.conf
  local pid started controller=false
  if [[ -s $dir/pids/slurmctld ]]; then
    read -r pid started <"$dir/pids/slurmctld" || true
    _cluster_alive "${pid:-0}" "${started:-}" && controller=true
  fi
  if $controller; then
    # Cancels every job of this cluster, whoever submitted it. A cancel
    # sends SIGCONT and SIGTERM to every process of a job, the batch script
    # included, so --full would add nothing. Then waits for the queue to
    # drain: KillWait seconds for processes to go after SIGTERM, plus a
    # margin.
    local -a jobs
    read -ra jobs <<<"$(SLURM_CONF=$conf timeout "$_cluster_cmd_timeout" squeue -h -o %F 2>/dev/null | sort -u | tr '\n' ' ')"
    if [[ ${#jobs[@]} -gt 0 ]]; then
      SLURM_CONF=$conf timeout "$_cluster_cmd_timeout" scancel --quiet "${jobs[@]}" >/dev/null 2>&1 || true
    fi
    local queued="(squeue failed)" deadline=$((SECONDS + 15))
    while ((SECONDS < deadline)); do
      queued=$(SLURM_CONF=$conf _cluster_queued) || queued="(squeue failed)"
      [[ -z $queued ]] && break
      sleep 0.2
    done
    if [[ -n $queued ]]; then
      echo "cluster_stop: queue not empty after 15s; stopping the daemons anyway:" >&2
      echo "$queued" >&2
    fi
  fi
  _cluster_kill "$dir" slurmd 10
  _cluster_kill "$dir" slurmctld 10
  _cluster_kill_strays "$dir"
  _cluster_kill "$dir" munged 5
  # Leaves SLURM_CONF unset rather than naming a configuration that is gone.
  [[ ${SLURM_CONF:-} == "$conf" ]] && unset SLURM_CONF
  rm -rf "$dir" 2>/dev/null || true
  [[ ! -e $dir ]] || { echo "cluster_stop: could not remove $dir" >&2; return 1; }
  return 0
}
