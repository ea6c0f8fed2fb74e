# Tool panels (src/tools, all but the toolbars and the window bar, which the
# screen frame builds): the "tools" base class with the linked change, and one panel per
# window role. The market windows make their panels and the panels call the
# windows' setters, so ambit_tools and ambit_windows name each other (as the
# application and the windows do). Tests in tests/tools/<panel>tools_test.cpp
# (tests/tools also holds the headless programs' tests, made by tools.cmake).
file(GLOB TOOLPANELS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/tools/*.cpp)
list(REMOVE_ITEM TOOLPANELS_SRC ${CMAKE_SOURCE_DIR}/src/tools/toolbar.cpp
     ${CMAKE_SOURCE_DIR}/src/tools/winbar.cpp)
add_library(ambit_tools STATIC ${TOOLPANELS_SRC})
target_link_libraries(ambit_tools PUBLIC ambit_windows ambit_screen ambit_ui ambit_app)

if(AMBIT_TESTS)
  # Every panel's tests are named tests/tools/<panel>tools[_e2e]_test.cpp.
  file(GLOB PANEL_TEST_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*tools*_test.cpp)
  foreach(t IN LISTS PANEL_TEST_SRC)
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE ambit_tools ambit_ui_test_support GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "AMBIT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endif()
