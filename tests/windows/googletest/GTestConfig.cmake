# GoogleTest for the Windows cross build: there is no prebuilt GoogleTest for
# mingw-w64, so the cross build compiles Debian's googletest sources
# (/usr/src/googletest) with the project's toolchain. The windows preset points
# GTest_DIR here, so the tests' find_package(GTest) lands in this file.
if(NOT TARGET GTest::gtest)
  set(VEMRA_GOOGLETEST_SOURCE_DIR /usr/src/googletest
      CACHE PATH "GoogleTest sources built for the cross build")
  if(NOT EXISTS ${VEMRA_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${VEMRA_GOOGLETEST_SOURCE_DIR}: "
                        "install Debian's googletest package (scripts/install-deps.sh windows)")
  endif()
  set(INSTALL_GTEST OFF)
  set(BUILD_GMOCK ON)
  add_subdirectory(${VEMRA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(_vemra_gtest_target gtest gtest_main gmock gmock_main)
    # Third-party code: the project's warnings-as-errors do not apply to it.
    target_compile_options(${_vemra_gtest_target} PRIVATE -w)
    if(NOT TARGET GTest::${_vemra_gtest_target})
      add_library(GTest::${_vemra_gtest_target} ALIAS ${_vemra_gtest_target})
    endif()
  endforeach()
endif()
set(GTest_FOUND TRUE)
