# Cross-build for Windows (x86_64) with MinGW-w64, posix thread model (the
# only one with std::thread in this compiler).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNLINK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORNLINK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNLINK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNLINK_MINGW_PREFIX}-windres)

# Libraries and headers only from the cross sysroot; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VORNLINK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
