#!/usr/bin/env bash
# The farm stage of the test suite: installs Slurm and munge when missing,
# proves the private cluster library, then renders a sequence on it.
#   tests/slurm/run.sh PATH/TO/vemra-render
# Skips, saying why, when not run as root (the daemons need it); as root, a
# daemon that does not start is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [[ $(id -u) -ne 0 ]]; then
  echo "farm tests skipped: Slurm's and munge's daemons must run as root"
  exit 0
fi
"$here/../../scripts/install-deps.sh" slurm
"$here/cluster_selftest.sh"
"$here/farm_test.sh" "$1"
