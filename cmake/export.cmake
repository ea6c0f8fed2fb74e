# Clipboard export (src/export): rows of tab-separated cells and window
# images onto the system clipboard, text read back from it. Tests in
# tests/export/<module>_test.cpp run under the private X server.
file(GLOB EXPORT_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/export/*.cpp)
add_library(ambit_export STATIC ${EXPORT_SRC})
target_link_libraries(ambit_export PUBLIC ambit_ui)

if(AMBIT_TESTS)
  file(GLOB EXPORT_TEST_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/export/*_test.cpp)
  foreach(t IN LISTS EXPORT_TEST_SRC)
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE ambit_export ambit_ui_test_support GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "AMBIT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endif()
