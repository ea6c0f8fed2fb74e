# Charts: the chart data block, periods, the technical-analysis registry and
# its computations, and the axes, which measure text on the toolkit's font
# atlas, so the library links ambit_ui; chart styles are saved in the
# configuration text, so it links ambit_config (src/charts). Tests in
# tests/charts/<module>_test.cpp (painting's under Xvfb too); the benchmarks
# of the computations and of painting in bench/charts/ (ambit_charts_bench).
file(GLOB CHARTS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/charts/*.cpp)
add_library(ambit_charts STATIC ${CHARTS_SRC})
target_link_libraries(ambit_charts PUBLIC ambit_engine ambit_ui ambit_config)

if(AMBIT_TESTS)
  ambit_add_tests(charts ambit_charts ambit_ui_test_support)
endif()

if(AMBIT_BENCH)
  file(GLOB CHARTS_BENCH_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/charts/*_bench.cpp)
  # The painting benchmark draws on llvmpipe through the pixel-test harness,
  # which exists only with the tests.
  if(NOT AMBIT_TESTS)
    list(REMOVE_ITEM CHARTS_BENCH_SRC ${CMAKE_SOURCE_DIR}/bench/charts/paint_bench.cpp)
  endif()
  if(CHARTS_BENCH_SRC)
    find_package(benchmark REQUIRED)
    add_executable(ambit_charts_bench ${CHARTS_BENCH_SRC})
    target_link_libraries(ambit_charts_bench PRIVATE ambit_charts benchmark::benchmark benchmark::benchmark_main)
    if(AMBIT_TESTS)
      target_link_libraries(ambit_charts_bench PRIVATE ambit_ui_test_support)
    endif()
  endif()
endif()

# Optional: the reference indicator libraries, as scripts/ta_reference fetches
# them with npm (node_modules, never committed), linked into a benchmark that
# runs them beside the chart's own computations. Not part of the terminal.
set(AMBIT_TA_ORACLE_DIR "${CMAKE_SOURCE_DIR}/scripts/ta_reference/node_modules" CACHE PATH
    "node_modules holding the talib and tulind packages")
set(AMBIT_TALIB_DIR ${AMBIT_TA_ORACLE_DIR}/talib/src/lib)
set(AMBIT_TULIP_DIR ${AMBIT_TA_ORACLE_DIR}/tulind/external)
if(AMBIT_BENCH AND EXISTS ${AMBIT_TALIB_DIR}/lib/libta_libc_csr.a AND EXISTS ${AMBIT_TULIP_DIR}/tiamalgamation.c)
  add_library(ambit_ta_oracle STATIC ${AMBIT_TULIP_DIR}/tiamalgamation.c)
  target_compile_options(ambit_ta_oracle PRIVATE -w)
  target_include_directories(ambit_ta_oracle PUBLIC ${AMBIT_TALIB_DIR}/include ${AMBIT_TULIP_DIR})
  target_link_libraries(ambit_ta_oracle PUBLIC ${AMBIT_TALIB_DIR}/lib/libta_libc_csr.a m)
  add_executable(ambit_ta_oracle_bench ${CMAKE_SOURCE_DIR}/bench/charts_oracle/ta_oracle_bench.cpp)
  target_link_libraries(ambit_ta_oracle_bench PRIVATE ambit_charts ambit_ta_oracle benchmark::benchmark
                        benchmark::benchmark_main)
endif()
