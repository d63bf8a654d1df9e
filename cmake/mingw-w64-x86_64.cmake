# Cross build for 64-bit Windows with Debian's mingw-w64 compilers. The posix
# thread model is the one whose C++ library has std::thread and std::mutex.
# Executables are linked statically, so that they need only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SERVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SERVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SERVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SERVO_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the target's root only; programs
# (the build's own tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${SERVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
