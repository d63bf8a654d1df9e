# The scope page: its controls on the headless backend, its acquisition
# against servo-sim, and the program offscreen on the Qt backend.
if(TARGET servo_pages_scope AND TARGET servo_test_support)
  servo_test(scope_page_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/scope_page_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/scope_acquire_test.cpp
    LIBS servo_pages_scope servo_test_support
    LABELS pages sim)
endif()
