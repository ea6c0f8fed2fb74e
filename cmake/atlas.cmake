# The built-in texture atlas: gen/atlasgen.cpp (a host program) renders the
# DejaVu fonts with FreeType and draws the interface images, and writes the
# atlas as a zlib stream in a C++ source file under the build tree; the
# library ambit_atlas compiles it and the toolkit (ambit_ui) links it. The
# same font files and FreeType and zlib versions give the same bytes.
find_package(Freetype REQUIRED)
find_package(PNG REQUIRED)
set(AMBIT_FONT_DIR /usr/share/fonts/truetype/dejavu CACHE PATH "Folder of the DejaVu font files")

add_executable(ambit-atlasgen ${CMAKE_SOURCE_DIR}/gen/atlasgen.cpp)
target_link_libraries(ambit-atlasgen PRIVATE Freetype::Freetype PNG::PNG ZLIB::ZLIB)

set(AMBIT_ATLAS_SRC ${CMAKE_BINARY_DIR}/gen/tex_atlas.cpp)
add_custom_command(
  OUTPUT ${AMBIT_ATLAS_SRC}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gen
  COMMAND ambit-atlasgen ${AMBIT_FONT_DIR} ${AMBIT_ATLAS_SRC}
  DEPENDS ambit-atlasgen
  COMMENT "Generating the texture atlas from the DejaVu fonts"
  VERBATIM)
add_library(ambit_atlas STATIC ${AMBIT_ATLAS_SRC})
target_include_directories(ambit_atlas PRIVATE ${CMAKE_SOURCE_DIR}/src)

# ambit_ui and the toolkit's tests are made in ui.cmake, after this file:
# link them once every subsystem file has been read.
function(ambit_atlas_link)
  target_link_libraries(ambit_ui PUBLIC ambit_atlas ZLIB::ZLIB)
  # The atlas tests check glyphs against FreeType's own rendering
  # (tests/ui/support/atlasref.cpp).
  if(TARGET ambit_ui_test_support)
    target_link_libraries(ambit_ui_test_support PUBLIC Freetype::Freetype)
    target_compile_definitions(ambit_ui_test_support PRIVATE AMBIT_FONT_DIR="${AMBIT_FONT_DIR}")
  endif()
  if(AMBIT_TESTS)
    # Two runs of the generator give the same bytes.
    add_test(NAME atlasgen_reproducible
             COMMAND ${CMAKE_COMMAND} -DGEN=$<TARGET_FILE:ambit-atlasgen> -DFONTS=${AMBIT_FONT_DIR}
                     -DOUT=${CMAKE_BINARY_DIR}/gen/repro -DBUILT=${AMBIT_ATLAS_SRC}
                     -P ${CMAKE_SOURCE_DIR}/gen/reproducible.cmake)
  endif()
endfunction()
cmake_language(DEFER CALL ambit_atlas_link)
