# The start-up and login flow (src/startup) with the configuration dialog
# and its pages (src/config/configbox.cpp, src/config/*_page.cpp), above the
# application modules, the configuration and the toolkit. The screens
# (built into ambit_app for now) show the dialog, so ambit_app and
# ambit_startup need each other: static libraries may, and CMake repeats
# them on the link line. The restart flag (src/startup/restart.cpp) is
# built into ambit_config; the process entry (entry.cpp) and the crash
# report (crash.cpp) are built by cmake/terminal.cmake. Tests in tests/startup/<module>_test.cpp.
file(GLOB STARTUP_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/startup/*.cpp
     ${CMAKE_SOURCE_DIR}/src/config/configbox.cpp ${CMAKE_SOURCE_DIR}/src/config/*_page.cpp
     ${CMAKE_SOURCE_DIR}/src/config/load_remote.cpp ${CMAKE_SOURCE_DIR}/src/config/remote_records.cpp
     ${CMAKE_SOURCE_DIR}/src/config/save_remote.cpp
     ${CMAKE_SOURCE_DIR}/src/config/upgrade.cpp)
# The process entry and the crash report are cmake/terminal.cmake's.
list(FILTER STARTUP_SRC EXCLUDE REGEX ".*/src/startup/(restart|entry|crash)\\.cpp$")
add_library(ambit_startup STATIC ${STARTUP_SRC})
# The status page names the PDF renderer's version.
find_package(PkgConfig REQUIRED)
pkg_check_modules(STARTUP_POPPLER REQUIRED IMPORTED_TARGET poppler-cpp)
target_link_libraries(ambit_startup PRIVATE PkgConfig::STARTUP_POPPLER)
target_link_libraries(ambit_startup PUBLIC ambit_app ambit_config ambit_ui ambit_engine)
target_link_libraries(ambit_app PUBLIC ambit_startup)
# The flow brings the screens up after the first login, and each screen holds
# the configuration dialog built here.
target_link_libraries(ambit_startup PUBLIC ambit_screen)
target_link_libraries(ambit_screen PUBLIC ambit_startup)

if(AMBIT_TESTS)
  ambit_add_tests(startup ambit_startup ambit_ui_test_support)
  # The program test starts the terminal itself (Ambit, cmake/terminal.cmake).
  foreach(name IN LISTS AMBIT_TESTS_MADE)
    add_dependencies(${name} Ambit)
    target_compile_definitions(${name} PRIVATE AMBIT_PROGRAM="$<TARGET_FILE:Ambit>")
  endforeach()
  # The first run's test reads the screen back with ambit-shot, as ./run does.
  if(TARGET first_run_test AND TARGET ambit-shot)
    add_dependencies(first_run_test ambit-shot)
    target_compile_definitions(first_run_test PRIVATE AMBIT_SHOT="$<TARGET_FILE:ambit-shot>")
  endif()
endif()

# The recovery reader's fuzz target: the recovery data module needs only the
# engine (the reports beside it live in recovery_reports.cpp).
if(AMBIT_FUZZ)
  if(TARGET recovery_fuzz)
    target_sources(recovery_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src/startup/recovery.cpp)
  endif()
endif()

# The dialog's pages are built here, so their tests (tests/config/pages) link
# this library.
if(AMBIT_TESTS)
  ambit_add_tests(config/pages ambit_startup ambit_ui_test_support)
endif()
