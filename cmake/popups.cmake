# The screens' popups (src/popups): the placement of the floating windows,
# the one hover popup at a time, the group bar, the general and the depth
# detail popups. They sit above the screens and the market windows; the
# application links them, and the screens' and windows' libraries reach
# them through it (the static libraries name each other). Tests in
# tests/popups/<module>_test.cpp.
file(GLOB POPUPS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/popups/*.cpp)
add_library(ambit_popups STATIC ${POPUPS_SRC})
target_link_libraries(ambit_popups PUBLIC ambit_windows ambit_screen ambit_ui ambit_app)
target_link_libraries(ambit_app PUBLIC ambit_popups)

if(AMBIT_TESTS)
  ambit_add_tests(popups ambit_popups ambit_ui_test_support)
endif()
