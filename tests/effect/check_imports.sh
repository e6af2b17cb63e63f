#!/usr/bin/env bash
# Fails if the shared library given imports any heap allocator: the effect
# renders in the host's worlds and on the stack. Exceptions are the one
# allowance (the C++ runtime allocates them, on failure paths only).
set -euo pipefail
library=$1
allocators='^(malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|pvalloc|strdup|strndup|mmap|mmap64|_Znwm|_Znam|_ZnwmRKSt9nothrow_t|_ZnamRKSt9nothrow_t|_ZnwmSt11align_val_t|_ZnamSt11align_val_t)$'
imports=$(nm -D --undefined-only "$library" | awk '{print $2}' | sed 's/@.*//' | sort -u)
found=$(grep -E "$allocators" <<<"$imports" || true)
if [[ -n $found ]]; then
  echo "$library imports heap allocators:"
  echo "$found"
  exit 1
fi
echo "$library imports no heap allocator ($(wc -l <<<"$imports") imports checked)"
