# The scope page: its controls on the headless backend, its acquisition
# against servo-sim, and the program offscreen on the Qt backend.
if(TARGET servo_pages_scope AND TARGET servo_test_support)
  servo_test(scope_page_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/scope_page_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/scope_acquire_test.cpp
    LIBS servo_pages_scope servo_test_support
    LABELS pages)
endif()

# The program offscreen with its real pages: screenshots under the build tree.
if(TARGET servo_page_set AND TARGET servo_ui_qt AND TARGET servo_test_support)
  add_executable(scope_gui_tests ${CMAKE_CURRENT_LIST_DIR}/scope_gui_test.cpp)
  target_link_libraries(scope_gui_tests PRIVATE servo_page_set servo_ui_qt servo_test_support
    GTest::gtest_main Threads::Threads)
  target_include_directories(scope_gui_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(scope_gui_tests PRIVATE
    SERVO_DIST_DIR="${PROJECT_SOURCE_DIR}/dist"
    SCOPE_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots")
  servo_warnings(scope_gui_tests)
  gtest_discover_tests(scope_gui_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS pages ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
