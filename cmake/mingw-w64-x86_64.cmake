# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads
# variant). Programs are linked fully static, so the plug-in and the test
# programs need nothing beyond Windows' own DLLs; tests run under Wine through
# scripts/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_vemra_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_vemra_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_vemra_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_vemra_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_vemra_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into every binary.
set(_vemra_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vemra_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vemra_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vemra_static}")

# Test programs run under Wine in a throw-away prefix that the test run
# creates and removes (see tests/windows/CMakeLists.txt).
get_filename_component(_vemra_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${_vemra_source_dir}/scripts/wine-run.sh;--prefix;${CMAKE_BINARY_DIR}/wine-prefix")
