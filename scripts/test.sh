#!/usr/bin/env bash
# The whole test suite: every build the project is tested in, one after the
# other, with each stage's time printed. Exits nonzero if any stage fails.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh

jobs=$(nproc)
stage "install packages" scripts/install-deps.sh base
stage "install render packages" scripts/install-deps.sh render
stage "install frei0r packages" scripts/install-deps.sh frei0r
# A plain -O0 build without sanitizers of the colour library, the effect and
# their tests: the sanitizers change what the compiler folds into constants,
# so code that compiles only with them (an intrinsic's immediate that is not
# a true constant) fails here.
stage "configure plain" cmake --preset plain -Wno-dev
stage "build plain" cmake --build --preset plain -j "$jobs"
stage "test plain" ctest --preset plain -j "$jobs"

# The sanitizers write their reports to files in the debug stage, so that
# none is lost to a silenced standard error or hidden behind an exit status
# a test expects; any report fails the stage after it.
reports=$PWD/build/debug/sanitizer-reports
for preset in debug native; do
  stage "configure $preset" cmake --preset "$preset" -Wno-dev
  stage "build $preset" cmake --build --preset "$preset" -j "$jobs"
  if [[ $preset == debug ]]; then
    rm -rf -- "$reports" && mkdir -p -- "$reports"
    stage "test debug" env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$reports/asan" \
      UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}log_path=$reports/ubsan" \
      ctest --preset debug -j "$jobs"
    stage "sanitizer reports (debug)" scripts/check-sanitizer-reports.sh "$reports"
  else
    stage "test $preset" ctest --preset "$preset" -j "$jobs"
  fi
done

# A sequence rendered in chunks on a real Slurm, a private one-machine cluster
# of its own (installs slurm-wlm and munge when missing; needs root).
stage "farm rendering on Slurm" timeout 300 tests/slurm/run.sh \
  build/native/tools/vemra-render/vemra-render

# ThreadSanitizer over the threaded tests alone: several hosts rendering
# through one loaded effect at once, and the host's iteration bands. GCC 12's
# runtime cannot place its shadow memory when the kernel randomises mappings
# with more than 28 bits, so there it runs without address randomisation.
tsan_run() {
  local bits
  bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)
  if ((bits > 28)); then setarch "$(uname -m)" -R "$@"; else "$@"; fi
}
stage "configure tsan" cmake --preset tsan -Wno-dev
stage "build tsan" cmake --build --preset tsan -j "$jobs"
stage "test tsan" tsan_run ctest --preset tsan -j "$jobs"

# libFuzzer (clang 14, AddressSanitizer and UndefinedBehaviorSanitizer): each
# target a short run from its committed seeds, with a fixed seed and a fixed
# number of inputs (and a time cap), so every run tries the same inputs.
stage "install packages (fuzz)" scripts/install-deps.sh fuzz
stage "configure fuzz" cmake --preset fuzz -Wno-dev
stage "build fuzz" cmake --build --preset fuzz -j "$jobs"
stage "fuzz (bounded runs)" ctest --preset fuzz -j "$jobs"

# The Windows plug-in: cross-built with mingw-w64, its tests run under Wine,
# then the same frames rendered natively and on Windows compared byte for byte.
stage "install packages (windows)" scripts/install-deps.sh windows
stage "configure windows" cmake --preset windows -Wno-dev
stage "build windows" cmake --build --preset windows -j "$jobs"
stage "test windows (Wine)" ctest --preset windows -j "$jobs" -LE cross_compiler
stage "compare native and Windows renders" ctest --preset windows -L cross_compiler
finish
