# Charts: the chart data block, periods, the technical-analysis registry and
# its computations (src/charts). Tests in tests/charts/<module>_test.cpp; the
# benchmarks of the computations in bench/charts/ (ambit_charts_bench).
file(GLOB CHARTS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/charts/*.cpp)
add_library(ambit_charts STATIC ${CHARTS_SRC})
target_link_libraries(ambit_charts PUBLIC ambit_engine)

if(AMBIT_TESTS)
  file(GLOB CHARTS_TEST_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/charts/*_test.cpp)
  foreach(t IN LISTS CHARTS_TEST_SRC)
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE ambit_charts ambit_test_support GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "AMBIT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endif()

if(AMBIT_BENCH)
  file(GLOB CHARTS_BENCH_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/charts/*_bench.cpp)
  if(CHARTS_BENCH_SRC)
    find_package(benchmark REQUIRED)
    add_executable(ambit_charts_bench ${CHARTS_BENCH_SRC})
    target_link_libraries(ambit_charts_bench PRIVATE ambit_charts benchmark::benchmark benchmark::benchmark_main)
  endif()
endif()
