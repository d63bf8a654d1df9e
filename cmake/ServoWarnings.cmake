# The project's own targets (not third-party code) get the full warning set.
# SERVO_WERROR turns the warnings into errors; the presets and the test command
# turn it on. It is off for a plain build, so that a compiler's false alarm at
# another optimisation level (GCC 12's -Wrestrict at -O3) cannot fail a
# packager's Release build.
option(SERVO_WERROR "Treat warnings of the project's own targets as errors" OFF)

function(servo_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${SERVO_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
      -Wimplicit-fallthrough $<$<BOOL:${SERVO_WERROR}>:-Werror>)
  endif()
endfunction()

# A static library of one source folder, with its include root at src/.
function(servo_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  servo_warnings(${name})
endfunction()

# Test code is compiled without optimisation in the optimised trees: it runs
# the optimised libraries under test all the same, and builds in a third of
# the time (GCC at -O2 -g spends most of a test file's time on GoogleTest's
# expanded macros). The cross build keeps its flags: its objects stay small.
function(servo_test_code target)
  if(NOT MSVC AND NOT CMAKE_CROSSCOMPILING)
    target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O0>)
  endif()
endfunction()

# A GoogleTest executable registered with CTest. LABELS takes one label: the
# discovered tests' properties cannot carry a list.
function(servo_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  servo_warnings(${name})
  servo_test_code(${name})
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator each start costs more than a test case: one CTest test
    # per executable, run through CMAKE_CROSSCOMPILING_EMULATOR.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" FIXTURES_REQUIRED emulator)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
      PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
