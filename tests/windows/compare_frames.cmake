# Renders the fixed frame set with the native build and, under Wine, with the
# Windows build, then compares the two outputs (render_frames --compare).
# Run by ctest as: cmake -DNATIVE_RENDER=... -DNATIVE_EFFECT=... -DWINDOWS_RENDER=...
#   -DWINDOWS_EFFECT=... -DWINE_RUN=... -DWINE_PREFIX=... -DWORK_DIR=... -P compare_frames.cmake
foreach(var NATIVE_RENDER NATIVE_EFFECT WINDOWS_RENDER WINDOWS_EFFECT WINE_RUN WINE_PREFIX WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "compare_frames.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result})")
  endif()
endfunction()

run("native render" ${NATIVE_RENDER} ${NATIVE_EFFECT} ${WORK_DIR}/native.frames)
run("Windows render under Wine"
    ${WINE_RUN} --prefix ${WINE_PREFIX} ${WINDOWS_RENDER} ${WINDOWS_EFFECT} ${WORK_DIR}/windows.frames)
run("comparison" ${NATIVE_RENDER} --compare ${WORK_DIR}/native.frames ${WORK_DIR}/windows.frames)
file(REMOVE_RECURSE ${WORK_DIR})
