#!/usr/bin/env bash
# Fails unless the frei0r plug-in's dynamic symbol table defines exactly the
# functions frei0r.h declares, every one of them and nothing else.
set -euo pipefail
library=$1
expected="f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value
f0r_get_plugin_info f0r_init f0r_set_param_value f0r_update f0r_update2"
expected=$(tr ' ' '\n' <<<"$expected" | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [[ "$actual" != "$expected" ]]; then
  echo "$library exports other symbols than frei0r's functions:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$library exports the ten f0r_ functions alone"
