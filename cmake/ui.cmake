# Drawing and user-interface toolkit: src/lib (GL dispatch, drawing, texture
# atlas and fonts, drawing lists, timers, formatters) and src/ui (class
# registry, widgets, containers, controls, builder, gui core and the Linux
# platform layer). Tests in tests/ui/<module>_test.cpp link it.
find_package(OpenGL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
# The Linux platform layer: Xlib for what SDL lacks (image clipboard, window
# stacking), libpng for clipboard images, poppler for PDF pages. Xlib and
# libpng are found by CMake's own modules, as for ambit-shot and the atlas
# generator: a pkg-config check under the same names would share their
# variables, and each configure would then undo the last one's include path
# (a second configure rebuilt every object of the toolkit and its tests).
find_package(X11 REQUIRED)
find_package(PNG REQUIRED)
pkg_check_modules(POPPLER_CPP REQUIRED IMPORTED_TARGET poppler-cpp)

file(GLOB UI_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/lib/*.cpp ${CMAKE_SOURCE_DIR}/src/ui/*.cpp)
add_library(ambit_ui STATIC ${UI_SRC})
target_link_libraries(ambit_ui PUBLIC ambit_engine ambit_config OpenGL::GL PkgConfig::SDL2
                      PRIVATE X11::X11 PNG::PNG PkgConfig::POPPLER_CPP)

if(AMBIT_TESTS)
  # Support of the toolkit's tests: the private Xvfb, the SDL2 window with a
  # compatibility GL context and pixel read-back (tests/ui/support).
  file(GLOB UI_TEST_SUPPORT_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/ui/support/*.cpp)
  add_library(ambit_ui_test_support STATIC ${UI_TEST_SUPPORT_SRC})
  target_include_directories(ambit_ui_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/ui/support)
  target_link_libraries(ambit_ui_test_support PUBLIC ambit_ui ambit_test_support GTest::gtest
                        PkgConfig::SDL2 X11::X11 PNG::PNG)

  ambit_add_tests(ui ambit_ui_test_support)
endif()

# The program's splash picture ("SPLASH" in the program folder), computed at
# build time by ambit-splashgen (tools/splashgen.cpp). The splash test reads
# it from AMBIT_SPLASH_FILE.
if(TARGET ambit-splashgen)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/SPLASH
                     COMMAND ambit-splashgen ${CMAKE_BINARY_DIR}/SPLASH
                     DEPENDS ambit-splashgen
                     COMMENT "Making the splash picture")
  add_custom_target(ambit_splash ALL DEPENDS ${CMAKE_BINARY_DIR}/SPLASH)
  # The terminal started from the build folder installs it from beside itself.
  if(TARGET Ambit)
    add_dependencies(Ambit ambit_splash)
  endif()
  if(TARGET splash_test)
    add_dependencies(splash_test ambit_splash)
    target_compile_definitions(splash_test PRIVATE AMBIT_SPLASH_FILE="${CMAKE_BINARY_DIR}/SPLASH")
  endif()
endif()
