# Timed stages for the project's scripts: `stage NAME command...` runs one
# stage and records its time and outcome; `finish` prints the table and
# exits nonzero if any stage failed. Sourced, not run.

_stage_names=()
_stage_times=()
_stage_results=()

stage() {
  local name=$1
  shift
  echo "==> $name"
  local start=$SECONDS
  "$@"
  local status=$?
  _stage_names+=("$name")
  _stage_times+=($((SECONDS - start)))
  _stage_results+=("$([[ $status -eq 0 ]] && echo ok || echo "FAILED ($status)")")
  echo "<== $name: $((SECONDS - start)) s, $([[ $status -eq 0 ]] && echo ok || echo failed)"
  return $status
}

finish() {
  local failed=0
  echo
  echo "Stage times:"
  for i in "${!_stage_names[@]}"; do
    printf '  %-40s %5d s  %s\n' "${_stage_names[$i]}" "${_stage_times[$i]}" "${_stage_results[$i]}"
    [[ ${_stage_results[$i]} == ok ]] || failed=$((failed + 1))
  done
  printf '  %-40s %5d s\n' "total" "$SECONDS"
  if [[ $failed -ne 0 ]]; then
    echo "$failed stage(s) failed"
    exit 1
  fi
}
