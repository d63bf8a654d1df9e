# Plot control and range dialog on the headless backend.
servo_test(scope_plot_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/plot_control_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/range_dialog_test.cpp
  LIBS servo_scope_plot
  LABELS pages)
