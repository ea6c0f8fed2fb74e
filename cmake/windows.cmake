# Market windows (src/windows): the window frame, its subject, roles and
# links, the title bar and the content kinds it owns. The application links
# it (the main's stop order deletes every window) and it reads the styles of
# the application, so the two static libraries name each other. Tests in
# tests/windows/<module>_test.cpp link it.
file(GLOB WINDOWS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/windows/*.cpp)
add_library(ambit_windows STATIC ${WINDOWS_SRC})
target_link_libraries(ambit_windows PUBLIC ambit_ui ambit_app)
target_link_libraries(ambit_app PUBLIC ambit_windows)

if(AMBIT_TESTS)
  file(GLOB WINDOWS_TEST_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*_test.cpp)
  foreach(t IN LISTS WINDOWS_TEST_SRC)
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE ambit_windows ambit_ui_test_support GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "AMBIT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endif()
