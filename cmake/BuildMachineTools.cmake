# Programs a cross build must run on the build machine: the property-list
# generator, and the native halves of the Windows checks (the PE file checks
# and the frame renderer whose output is compared with the Windows one). They
# come from a nested native build of this same source tree, configured and
# built as one step of the cross build, so the cross build needs nothing from
# any other build directory.
#
# vemra_build_machine_program(NAME VAR) sets VAR to the path of program NAME
# (property_list_generator, aex_checks or render_frames) and makes sure the
# nested build produces it.
include_guard(GLOBAL)
include(ExternalProject)

set(VEMRA_BUILD_MACHINE_DIR ${CMAKE_BINARY_DIR}/build-machine CACHE INTERNAL
    "Nested native build of the programs the cross build runs on the build machine")
# Each program as NAME:DIRECTORY, the directory that defines it.
set(_vemra_programs property_list_generator:resources)
if(VEMRA_BUILD_TESTS)
  list(APPEND _vemra_programs aex_checks:tests/windows render_frames:tests/windows)
endif()

set(_vemra_targets "")
set(_vemra_byproducts "")
foreach(_entry IN LISTS _vemra_programs)
  string(REPLACE ":" ";" _entry "${_entry}")
  list(GET _entry 0 _name)
  list(GET _entry 1 _dir)
  set(_path ${VEMRA_BUILD_MACHINE_DIR}/${_dir}/${_name})
  list(APPEND _vemra_targets ${_name})
  list(APPEND _vemra_byproducts ${_path})
  set_property(GLOBAL PROPERTY VEMRA_BUILD_MACHINE_${_name} ${_path})
endforeach()

# The nested build compiles with the build machine's default compiler, -O2 for
# baseline x86-64, like the release build; one job, beside the outer build's.
ExternalProject_Add(build_machine_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${VEMRA_BUILD_MACHINE_DIR}
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=
    -DCMAKE_BUILD_TYPE=Release
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
    -DVEMRA_WARNINGS_AS_ERRORS=${VEMRA_WARNINGS_AS_ERRORS}
    -DVEMRA_BUILD_TESTS=${VEMRA_BUILD_TESTS}
    -DVEMRA_BUILD_BENCH=OFF
    -DVEMRA_BUILD_RENDER=OFF
    -Wno-dev
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> -j 1 --target ${_vemra_targets}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${_vemra_byproducts}
  INSTALL_COMMAND "")

function(vemra_build_machine_program name var)
  get_property(_path GLOBAL PROPERTY VEMRA_BUILD_MACHINE_${name})
  if(NOT _path)
    message(FATAL_ERROR "no build-machine program ${name}")
  endif()
  set(${var} ${_path} PARENT_SCOPE)
endfunction()
