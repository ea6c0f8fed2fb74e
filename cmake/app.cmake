# The application's top-level modules (src/<name>.cpp for the names in
# AMBIT_APP_MODULES: data paths, the site table, version strings, the visual
# styles and, as they are built, the rest) above the toolkit. Tests in
# tests/app/<module>_test.cpp link it.
#
# The visual styles ask the screens for a refresh through a hook that the
# screen frame (cmake/screen.cmake) installs at its start.
set(APP_SRC "")
foreach(m IN LISTS AMBIT_APP_MODULES)
  if(EXISTS ${CMAKE_SOURCE_DIR}/src/${m}.cpp)
    list(APPEND APP_SRC ${CMAKE_SOURCE_DIR}/src/${m}.cpp)
  endif()
endforeach()
add_library(ambit_app STATIC ${APP_SRC})
target_link_libraries(ambit_app PUBLIC ambit_ui ambit_config)
# The application, the screens, the windows and the start-up flow call each
# other; undo and the actions reach into all of them, so the cycle of static
# libraries is repeated a few times on the link line.
set_target_properties(ambit_app PROPERTIES LINK_INTERFACE_MULTIPLICITY 4)

if(AMBIT_TESTS)
  ambit_add_tests(app ambit_app ambit_ui_test_support)
endif()
