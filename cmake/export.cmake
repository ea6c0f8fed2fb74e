# Clipboard export (src/export): rows of tab-separated cells and window
# images onto the system clipboard, text read back from it. Tests in
# tests/export/<module>_test.cpp run under the private X server.
file(GLOB EXPORT_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/export/*.cpp)
add_library(ambit_export STATIC ${EXPORT_SRC})
target_link_libraries(ambit_export PUBLIC ambit_ui)

if(AMBIT_TESTS)
  ambit_add_tests(export ambit_export ambit_ui_test_support)
endif()
