# News feeds (src/rss): the feed parser, HTML to text and the feed registry,
# library ambit_rss; tests in tests/rss/<module>_test.cpp; fuzz targets
# fuzz/rss_*_fuzz.cpp and fuzz/html2txt_fuzz.cpp.
file(GLOB RSS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/rss/*.cpp)
add_library(ambit_rss STATIC ${RSS_SRC})
target_include_directories(ambit_rss PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(ambit_rss PUBLIC ambit_config ambit_ui ambit_engine)
target_link_libraries(ambit_app PUBLIC ambit_rss)

if(AMBIT_TESTS)
  ambit_add_tests(rss ambit_rss ambit_test_support)
  if(TARGET rss_loopback_test)
    target_link_libraries(rss_loopback_test PRIVATE ambit_sim)
  endif()
  if(TARGET parse_xml_test)
    find_package(LibXml2 REQUIRED)
    target_link_libraries(parse_xml_test PRIVATE LibXml2::LibXml2)
  endif()
endif()

if(AMBIT_FUZZ)
  foreach(name rss_parse_fuzz html2txt_fuzz)
    if(NOT TARGET ${name})
      add_executable(${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}.cpp)
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    endif()
    target_link_libraries(${name} PRIVATE ambit_rss)
  endforeach()
endif()

# bench/rss_bench.cpp joins the one benchmark program of the top level, with
# libxml2 as the parser's reference.
if(TARGET ambit_bench)
  find_package(LibXml2 REQUIRED)
  target_link_libraries(ambit_bench PRIVATE ambit_rss LibXml2::LibXml2)
endif()
