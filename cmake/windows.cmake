# Market windows (src/windows): the window frame, its subject, roles and
# links, the title bar and the content kinds it owns. The application links
# it (the main's stop order deletes every window) and it reads the styles of
# the application, so the two static libraries name each other; the chart
# widget (nuchart) links the charts' data side. Tests in
# tests/windows/<module>_test.cpp link it.
file(GLOB WINDOWS_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/windows/*.cpp)
add_library(ambit_windows STATIC ${WINDOWS_SRC})
target_link_libraries(ambit_windows PUBLIC ambit_ui ambit_app ambit_screen ambit_rss ambit_export ambit_term ambit_charts ambit_tools)
target_link_libraries(ambit_app PUBLIC ambit_windows)

if(AMBIT_TESTS)
  ambit_add_tests(windows ambit_windows ambit_ui_test_support)
  # The depth window's end-to-end test runs the market simulator.
  if(TARGET depthwin_sim_test AND TARGET ambit_sim)
    target_link_libraries(depthwin_sim_test PRIVATE ambit_sim)
  endif()
  # So does the title bar's, against the demo scenario.
  if(TARGET titlebar_sim_test AND TARGET ambit_sim)
    target_link_libraries(titlebar_sim_test PRIVATE ambit_sim)
  endif()
endif()

# Benchmarks of the market windows (bench/windows/*_bench.cpp), against the
# GL recorder and Mesa's llvmpipe (the pixel-test harness's private Xvfb),
# release preset: ./build/release/ambit_windows_bench
if(AMBIT_BENCH AND AMBIT_TESTS AND TARGET ambit_ui_test_support)
  file(GLOB WINDOWS_BENCH_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/windows/*_bench.cpp)
  if(WINDOWS_BENCH_SRC)
    add_executable(ambit_windows_bench ${WINDOWS_BENCH_SRC})
    target_link_libraries(ambit_windows_bench PRIVATE ambit_windows ambit_ui_test_support benchmark::benchmark
                          benchmark::benchmark_main)
  endif()
endif()
