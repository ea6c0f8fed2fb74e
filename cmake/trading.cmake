# The trading tables and the order list view (src/trading), built into the
# application (cmake/terminal.cmake lists the source). Tests in
# tests/trading/<module>_test.cpp link the application.
if(AMBIT_TESTS)
  ambit_add_tests(trading ambit_app ambit_ui_test_support)
endif()
