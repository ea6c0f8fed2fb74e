# The launcher (src/stub): the bundle's program that installs or upgrades
# the terminal into the per-user data tree and executes it from a run slot.
# It links only what it shares with the terminal: the engine's runtime
# (memory, pool, log, platform, data directory), the data paths and version
# strings, and the launch layer of the toolkit library, whose static objects
# come in only as far as the launch code needs them; no window is opened.
# Tests in tests/launcher/<module>_test.cpp run the built launcher in child
# processes with launcher-helper as the stored program, and end to end with
# the build's Ambit as the stored program under the test X server, signing
# on to the simulator on loopback.
add_library(ambit_stub STATIC
    ${CMAKE_SOURCE_DIR}/src/stub/stub.cpp
    ${CMAKE_SOURCE_DIR}/src/stub/install.cpp
    ${CMAKE_SOURCE_DIR}/src/appdata.cpp
    ${CMAKE_SOURCE_DIR}/src/version.cpp)
target_link_libraries(ambit_stub PUBLIC ambit_engine ambit_ui)
target_compile_options(ambit_stub PRIVATE ${AMBIT_WERROR})

add_executable(launcher ${CMAKE_SOURCE_DIR}/src/stub/main.cpp)
target_link_libraries(launcher PRIVATE ambit_stub)

if(AMBIT_TESTS)
  # Stands in for the stored terminal: prints what it was started with.
  add_executable(launcher-helper ${CMAKE_SOURCE_DIR}/tests/launcher/helper.cpp)

  ambit_add_tests(launcher ambit_stub ambit_ui_test_support)
  foreach(name IN LISTS AMBIT_TESTS_MADE)
    # The end-to-end test signs the installed terminal on to the simulator.
    if(TARGET ambit_sim)
      target_link_libraries(${name} PRIVATE ambit_sim)
    endif()
    add_dependencies(${name} launcher launcher-helper Ambit)
    target_compile_definitions(${name} PRIVATE LAUNCHER_PROGRAM="$<TARGET_FILE:launcher>"
                               LAUNCHER_HELPER="$<TARGET_FILE:launcher-helper>"
                               AMBIT_PROGRAM="$<TARGET_FILE:Ambit>")
  endforeach()
endif()
