#!/usr/bin/env bash
# The whole test suite: every build the project is tested in, one after the
# other, with each stage's time printed. Exits nonzero if any stage fails.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh

jobs=$(nproc)
stage "install packages" scripts/install-deps.sh base
for preset in debug native; do
  stage "configure $preset" cmake --preset "$preset" -Wno-dev
  stage "build $preset" cmake --build --preset "$preset" -j "$jobs"
  stage "test $preset" ctest --preset "$preset" -j "$jobs"
done
finish
