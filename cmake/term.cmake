# The terminal (src/term): screen model, escape interpreter, session table
# and the terminal widget. Tests in tests/term/<module>_test.cpp; the
# differential tests check the screen against libvterm's, and the recorded
# vttest streams (tests/term/data) replay through the interpreter.
file(GLOB TERM_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/term/*.cpp)
add_library(ambit_term STATIC ${TERM_SRC})
target_link_libraries(ambit_term PUBLIC ambit_export ambit_ui)

if(AMBIT_TESTS OR AMBIT_BENCH)
  pkg_check_modules(VTERM REQUIRED IMPORTED_TARGET vterm)
endif()

if(AMBIT_TESTS)
  ambit_add_tests(term ambit_term ambit_ui_test_support PkgConfig::VTERM)
endif()

# fuzz/tt_send_fuzz.cpp: the byte path of a local-display session.
if(AMBIT_FUZZ)
  file(GLOB TERM_FUZZ_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/tt_*_fuzz.cpp)
  foreach(f IN LISTS TERM_FUZZ_SRC)
    get_filename_component(name ${f} NAME_WE)
    if(NOT TARGET ${name})
      add_executable(${name} ${f})
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    endif()
    target_link_libraries(${name} PRIVATE ambit_term)
  endforeach()
endif()

# bench/term/*_bench.cpp: the byte path against libvterm on the same streams.
if(AMBIT_BENCH)
  file(GLOB TERM_BENCH_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/term/*_bench.cpp)
  if(TERM_BENCH_SRC)
    add_executable(ambit_term_bench ${TERM_BENCH_SRC})
    target_link_libraries(ambit_term_bench PRIVATE ambit_term PkgConfig::VTERM
                          benchmark::benchmark benchmark::benchmark_main)
  endif()
endif()
