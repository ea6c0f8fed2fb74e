# Runs the atlas generator twice into fresh files and compares both with the
# atlas source the build compiled: every run must give the same bytes.
file(MAKE_DIRECTORY ${OUT})
foreach(i 1 2)
  execute_process(COMMAND ${GEN} ${FONTS} ${OUT}/run${i}.cpp RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the generator failed (${rc})")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/run${i}.cpp ${BUILT} RESULT_VARIABLE diff)
  if(NOT diff EQUAL 0)
    message(FATAL_ERROR "run ${i} of the generator differs from the built atlas")
  endif()
endforeach()
