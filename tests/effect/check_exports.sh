#!/usr/bin/env bash
# Fails unless the shared library given exports exactly one defined dynamic
# symbol, EntryPointFunc.
set -euo pipefail
library=$1
symbols=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [[ "$symbols" != "EntryPointFunc" ]]; then
  echo "$library exports:"
  echo "$symbols"
  exit 1
fi
echo "$library exports EntryPointFunc alone"
