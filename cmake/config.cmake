# Configuration: the configuration text model and formatter, enum names,
# save scheduling and the local settings file (src/config). Tests in
# tests/config/<module>_test.cpp link it.
#
# The configuration dialog and its pages (configbox.cpp, *_page.cpp) sit
# above the toolkit and the start-up flow, and the user configuration kept
# on the server (load_remote, remote_records, save_remote, upgrade) calls
# every owner of lists, screens and windows: cmake/startup.cmake builds them
# into ambit_startup. The local settings read the start-up flow's restart
# flag, which lives on its own in src/startup/restart.cpp so that this
# library needs nothing above it.
file(GLOB CONFIG_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/config/*.cpp)
list(FILTER CONFIG_SRC EXCLUDE REGEX ".*/src/config/(configbox|[a-z_]+_page|load_remote|remote_records|save_remote|upgrade)\\.cpp$")
list(APPEND CONFIG_SRC ${CMAKE_SOURCE_DIR}/src/startup/restart.cpp)
add_library(ambit_config STATIC ${CONFIG_SRC})
target_link_libraries(ambit_config PUBLIC ambit_engine)

if(AMBIT_TESTS)
  ambit_add_tests(config ambit_config ambit_test_support)
  # The dialog pages' checks (tests/config/*_page_test.cpp, *_page_gui_test.cpp) need the pages,
  # built into ambit_startup (cmake/startup.cmake), and the toolkit's support.
  foreach(name IN LISTS AMBIT_TESTS_MADE)
    if(name MATCHES "_page(_gui)?_test$")
      target_link_libraries(${name} PRIVATE ambit_startup ambit_ui_test_support)
    endif()
  endforeach()
endif()

# The fuzz targets of this subsystem are fuzz/config_*_fuzz.cpp; the top
# level makes a target of every fuzz/*_fuzz.cpp against the engine, and
# these need the configuration library as well.
if(AMBIT_FUZZ)
  file(GLOB CONFIG_FUZZ_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/config_*_fuzz.cpp)
  foreach(f IN LISTS CONFIG_FUZZ_SRC)
    get_filename_component(name ${f} NAME_WE)
    if(NOT TARGET ${name})
      add_executable(${name} ${f})
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    endif()
    target_link_libraries(${name} PRIVATE ambit_config)
  endforeach()
  # The stored user configuration up to the records that need no window: its
  # reader and the quick keys over the watchlists, scans and feeds, whose
  # libraries the fuzz tree builds already.
  if(TARGET config_remote_fuzz)
    target_sources(config_remote_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src/config/remote_records.cpp
                   ${CMAKE_SOURCE_DIR}/src/quick9.cpp)
    target_link_libraries(config_remote_fuzz PRIVATE ambit_rss)
  endif()
endif()

# bench/config_bench.cpp joins the one benchmark program of the top level.
if(TARGET ambit_bench)
  target_link_libraries(ambit_bench PRIVATE ambit_config)
endif()

# The migration test reads its trees back through the desktop layout text
# reader, which needs nothing but the engine.
if(TARGET migrate_desktop_test)
  target_sources(migrate_desktop_test PRIVATE ${CMAKE_SOURCE_DIR}/src/screen/layouttext.cpp)
endif()
