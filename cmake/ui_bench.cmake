# Benchmarks of the toolkit's drawing (bench/ui/*_bench.cpp): they draw
# against the GL recorder and, through the pixel-test harness's private Xvfb,
# against Mesa's llvmpipe. Run: ./build/release/ambit_ui_bench
if(AMBIT_BENCH AND AMBIT_TESTS AND TARGET ambit_ui_test_support)
  file(GLOB UI_BENCH_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/ui/*_bench.cpp)
  if(UI_BENCH_SRC)
    add_executable(ambit_ui_bench ${UI_BENCH_SRC})
    target_link_libraries(ambit_ui_bench PRIVATE ambit_ui_test_support benchmark::benchmark
                          benchmark::benchmark_main)
  endif()
endif()
