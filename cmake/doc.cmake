# Documents (src/doc): the download manager, the PDF views and their render
# thread, library ambit_doc; the application and the document window link
# it. Tests in tests/doc/<module>_test.cpp; the PDFs they render are written
# by scripts/make-test-pdfs.py.
file(GLOB DOC_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/doc/*.cpp)
add_library(ambit_doc STATIC ${DOC_SRC})
target_include_directories(ambit_doc PUBLIC ${CMAKE_SOURCE_DIR}/src)
find_package(PkgConfig REQUIRED)
pkg_check_modules(DOC_POPPLER REQUIRED IMPORTED_TARGET poppler-cpp)
target_link_libraries(ambit_doc PUBLIC ambit_ui ambit_engine PRIVATE PkgConfig::DOC_POPPLER)
target_link_libraries(ambit_app PUBLIC ambit_doc)

if(AMBIT_TESTS)
  ambit_add_tests(doc ambit_doc ambit_ui_test_support)
  foreach(name IN LISTS AMBIT_TESTS_MADE)
    target_compile_definitions(${name} PRIVATE AMBIT_PDF_SCRIPT="${CMAKE_SOURCE_DIR}/scripts/make-test-pdfs.py")
  endforeach()
  # The document window's tests reach it through the market windows.
  foreach(name docwin_test docwin_gui_test)
    if(TARGET ${name})
      target_link_libraries(${name} PRIVATE ambit_windows ambit_app)
    endif()
  endforeach()
  if(TARGET docmgr_loopback_test)
    target_link_libraries(docmgr_loopback_test PRIVATE ambit_sim)
  endif()
endif()
