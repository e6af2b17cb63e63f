# Flags every target of the project is built with.
#
# Colour results are compared bit for bit, so floating point must not be
# contracted into fused multiply-adds (-ffp-contract=off) and fast-math is
# never used: the same source gives the same bits at every optimisation level,
# with -march=native, and between the native and the Windows compilers.

add_compile_options(-ffp-contract=off -fno-fast-math)
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                    -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
                    -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(VEMRA_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()

if(VEMRA_NATIVE)
  add_compile_options(-march=native)
endif()

if(VEMRA_SANITIZE)
  string(REPLACE ";" "," _vemra_sanitizers "${VEMRA_SANITIZE}")
  add_compile_options(-fsanitize=${_vemra_sanitizers} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_vemra_sanitizers})
endif()

# The fuzz build (clang): every target gets coverage instrumentation for
# libFuzzer; the fuzz executables link libFuzzer itself.
if(VEMRA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()
