#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
# Usage: scripts/install-deps.sh [group...]   groups: base windows render frei0r screen fuzz slurm all
# A new machine starts bare, so every entry point of the project calls this.
set -euo pipefail

declare -A groups=(
  [base]="cmake ninja-build g++ clang-tidy libgtest-dev libgmock-dev libbenchmark-dev"
  [windows]="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest"
  [render]="libopenimageio-dev openimageio-tools libcli11-dev libfmt-dev ffmpeg libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev pkg-config ffmpeg-doc help2man"
  [frei0r]="frei0r-plugins-dev melt kdenlive-data ffmpeg libxml2-utils gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav xvfb xauth"
  [screen]="kdenlive shotcut xdotool"
  [fuzz]="clang libclang-rt-14-dev"
  [slurm]="slurm-wlm munge"
)

wanted=()
for group in "${@:-base}"; do
  if [[ $group == all ]]; then
    for g in "${!groups[@]}"; do wanted+=(${groups[$g]}); done
  elif [[ -n ${groups[$group]:-} ]]; then
    wanted+=(${groups[$group]})
  else
    echo "install-deps: unknown group '$group'" >&2
    exit 2
  fi
done

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# The slurm group's packages ship munge, slurmctld and slurmd services, and
# their install scripts would start them. A test runs its own private daemons,
# so a system-wide munged or slurmctld must not come up (on a machine without
# systemd it would stay running). For this install only, a policy-rc.d tells
# invoke-rc.d to start nothing; one already there is set aside and put back.
policy=/usr/sbin/policy-rc.d
policy_saved=""
policy_ours=false
restore_policy() {
  if $policy_ours; then
    $sudo rm -f "$policy"
    [[ -n $policy_saved ]] && $sudo mv -f "$policy_saved" "$policy"
    policy_ours=false
  fi
  return 0
}
block_service_starts() {
  trap restore_policy EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  if [[ -e $policy || -L $policy ]]; then
    policy_saved=$($sudo mktemp "$policy.install-deps.XXXXXX")
    $sudo mv -f "$policy" "$policy_saved"
  fi
  policy_ours=true
  printf '%s\n' '#!/bin/sh' \
    'echo "policy-rc.d: scripts/install-deps.sh is installing packages; services are not started" >&2' \
    'exit 101' | $sudo tee "$policy" >/dev/null
  $sudo chmod 0755 "$policy"
}
for package in ${groups[slurm]}; do
  if [[ " ${missing[*]} " == *" $package "* ]]; then
    block_service_starts
    break
  fi
done

$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
