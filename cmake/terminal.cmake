# The terminal program Ambit: the process entry (src/startup/entry.cpp) over
# the application modules (ambit_app), the crash report and the modules of
# the folders the application main starts that have no build file of their
# own yet. Tests in tests/terminal/<module>_test.cpp; the crash and restart
# tests run the helper program terminal-helper in child processes.
set(TERMINAL_SRC
    ${CMAKE_SOURCE_DIR}/src/startup/crash.cpp
    ${CMAKE_SOURCE_DIR}/src/trading/trading.cpp)
target_sources(ambit_app PRIVATE ${TERMINAL_SRC})
target_link_libraries(ambit_app PUBLIC ambit_charts ambit_term ambit_export)

add_executable(Ambit ${CMAKE_SOURCE_DIR}/src/startup/entry.cpp)
target_link_libraries(Ambit PRIVATE ambit_app)
# Symbols for the crash handler's backtrace.
set_target_properties(Ambit PROPERTIES ENABLE_EXPORTS ON)

if(AMBIT_TESTS)
  add_executable(terminal-helper ${CMAKE_SOURCE_DIR}/tests/terminal/helper.cpp)
  target_link_libraries(terminal-helper PRIVATE ambit_app)
  set_target_properties(terminal-helper PROPERTIES ENABLE_EXPORTS ON)
  target_compile_options(terminal-helper PRIVATE -fno-omit-frame-pointer -fno-inline -fno-optimize-sibling-calls)

  ambit_add_tests(terminal ambit_app ambit_ui_test_support)
  foreach(name IN LISTS AMBIT_TESTS_MADE)
    add_dependencies(${name} Ambit terminal-helper)
    target_compile_definitions(${name} PRIVATE AMBIT_PROGRAM="$<TARGET_FILE:Ambit>"
                               AMBIT_HELPER="$<TARGET_FILE:terminal-helper>")
  endforeach()
endif()

# The crash state reader's fuzz target: the crash report and the data paths
# over the engine, with stand-ins for the launcher calls a report would make.
if(AMBIT_FUZZ AND TARGET crash_state_fuzz)
  target_sources(crash_state_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src/startup/crash.cpp ${CMAKE_SOURCE_DIR}/src/appdata.cpp)
endif()
