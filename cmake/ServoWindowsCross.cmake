# The Windows cross build (preset "windows"), included after project():
#  - header-only libraries taken from the build machine's /usr/include,
#  - GoogleTest compiled from Debian's sources for the target,
#  - Wine, in a prefix of the build tree, as the emulator that runs the
#    target's executables for CTest.
# find_package() calls elsewhere find these through package redirects, so the
# folders' own CMakeLists.txt need no cross-build branches for them.

# Only the libraries' own folders are exposed: the host's /usr/include itself on
# a cross compiler's include path would shadow the target's C library headers.
set(SERVO_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${SERVO_HOST_HEADERS})

function(servo_redirect_package package version)
  string(TOLOWER ${package} lower)
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config.cmake
       "# Provided by ServoWindowsCross.cmake\n")
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config-version.cmake
       "set(PACKAGE_VERSION ${version})\n"
       "set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
       "if(PACKAGE_FIND_VERSION AND PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)\n"
       "  set(PACKAGE_VERSION_COMPATIBLE FALSE)\n"
       "endif()\n")
endfunction()

# A header-only library: its folder under /usr/include, linked into the host
# headers folder, as an imported target.
function(servo_host_header_library target folder version_header version_regex)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${SERVO_HOST_HEADERS}/${folder} SYMBOLIC)
  file(STRINGS /usr/include/${folder}/${version_header} lines REGEX "${version_regex}")
  set(version "")
  foreach(line ${lines})
    string(REGEX REPLACE ".*${version_regex}.*" "\\1" part "${line}")
    list(APPEND version ${part})
  endforeach()
  list(JOIN version "." version)
  string(REPLACE "::" ";" names ${target})
  list(GET names 0 package)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${SERVO_HOST_HEADERS})
  servo_redirect_package(${package} ${version})
endfunction()

servo_host_header_library(nlohmann_json::nlohmann_json nlohmann detail/abi_macros.hpp
  "#define NLOHMANN_JSON_VERSION_[A-Z]+ ([0-9]+)")
servo_host_header_library(CLI11::CLI11 CLI Version.hpp "#define CLI11_VERSION_[A-Z]+ ([0-9]+)")

# GoogleTest for the target, built only as far as the tests link it.
if(SERVO_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  servo_redirect_package(GTest 1.12)
endif()

# Wine runs the tests, in a prefix of the build tree (created on first use).
set(SERVO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the Windows tests")
set(SERVO_WINE_SCRIPT ${PROJECT_SOURCE_DIR}/tests/windows/wine.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SERVO_WINE_SCRIPT} run ${SERVO_WINEPREFIX})
