# The scope's plot control and channel range dialog, for the scope page.
servo_library(servo_scope_plot
  ${CMAKE_CURRENT_LIST_DIR}/plot_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/range_dialog.cpp)
target_link_libraries(servo_scope_plot PUBLIC servo_ui servo_data servo_resources)
