#Page 2 : the oscilloscope page, on the plot control and the range dialog.
servo_library(servo_pages_scope ${CMAKE_CURRENT_LIST_DIR} / scope_page.cpp)
    target_link_libraries(servo_pages_scope PUBLIC servo_app servo_scope_plot)
