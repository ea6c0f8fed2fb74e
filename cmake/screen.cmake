# The screen frame: screens, desktops, the splitter, the layout text and
# the bars (src/screen), with the toolbars and the window bar
# (src/tools/toolbar.cpp, src/tools/winbar.cpp). The market window
# (src/windows/window.cpp) is built into ambit_app by cmake/terminal.cmake. Tests in
# tests/screen/<module>_test.cpp link it.
file(GLOB SCREEN_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/screen/*.cpp)
list(APPEND SCREEN_SRC ${CMAKE_SOURCE_DIR}/src/tools/toolbar.cpp
                       ${CMAKE_SOURCE_DIR}/src/tools/winbar.cpp)
add_library(ambit_screen STATIC ${SCREEN_SRC})
target_link_libraries(ambit_screen PUBLIC ambit_app ambit_ui ambit_config)

if(AMBIT_TESTS)
  ambit_add_tests(screen ambit_screen ambit_ui_test_support)
endif()

# The layout text reader's fuzz target needs only the reader itself and the
# engine's log.
if(AMBIT_FUZZ)
  if(TARGET layouttext_fuzz)
    target_sources(layouttext_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src/screen/layouttext.cpp)
  endif()
endif()
