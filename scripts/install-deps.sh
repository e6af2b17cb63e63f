#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
# Usage: scripts/install-deps.sh [group...]   groups: base windows render fuzz all
# A new machine starts bare, so every entry point of the project calls this.
set -euo pipefail

declare -A groups=(
  [base]="cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev"
  [windows]="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest"
  [render]="libopenimageio-dev openimageio-tools libcli11-dev libfmt-dev ffmpeg"
  [fuzz]="clang libclang-rt-14-dev"
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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
