#!/usr/bin/env bash
# The whole test suite: every build the project is tested in, one after the
# other, with each stage's time printed. Exits nonzero if any stage fails.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh

jobs=$(nproc)
stage "install packages" scripts/install-deps.sh base
stage "install render packages" scripts/install-deps.sh render
for preset in debug native; do
  stage "configure $preset" cmake --preset "$preset" -Wno-dev
  stage "build $preset" cmake --build --preset "$preset" -j "$jobs"
  stage "test $preset" ctest --preset "$preset" -j "$jobs"
done

# The Windows plug-in: cross-built with mingw-w64, its tests run under Wine,
# then the same frames rendered natively and on Windows compared byte for byte.
stage "install packages (windows)" scripts/install-deps.sh windows
stage "configure windows" cmake --preset windows -Wno-dev
stage "build windows" cmake --build --preset windows -j "$jobs"
stage "test windows (Wine)" ctest --preset windows -j "$jobs" -LE cross_compiler
stage "compare native and Windows renders" ctest --preset windows -L cross_compiler
finish
