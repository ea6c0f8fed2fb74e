# Tests of the headless programs in tools/: tests/tools/<name>_test.cpp runs
# the built ambit-<name>, whose path it gets as AMBIT_TOOL_BIN.
if(AMBIT_TESTS)
  file(GLOB TOOL_TEST_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*_test.cpp)
  foreach(t IN LISTS TOOL_TEST_SRC)
    get_filename_component(name ${t} NAME_WE)
    string(REGEX REPLACE "_test$" "" tool ${name})
    if(NOT TARGET ambit-${tool})
      continue()
    endif()
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE ambit_test_support GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE AMBIT_TOOL_BIN="$<TARGET_FILE:ambit-${tool}>")
    add_dependencies(${name} ambit-${tool})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "AMBIT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endif()

# The screen tour (scripts/tour.sh) as a test: the real terminal against the
# simulator's live market under a private Xvfb; it fails on any GL error in
# the terminal's log. Its pictures stay in build/<preset>/tour.
if(AMBIT_TESTS AND TARGET ambit-shot AND TARGET Ambit AND TARGET ambit-sim)
  add_test(NAME screen_tour COMMAND ${CMAKE_SOURCE_DIR}/scripts/tour.sh $<TARGET_FILE_DIR:Ambit>
                                    ${CMAKE_BINARY_DIR}/tour)
  set_tests_properties(screen_tour PROPERTIES TIMEOUT 240 ENVIRONMENT "AMBIT_TOUR_PAUSE=1")
endif()
