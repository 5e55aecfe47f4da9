# What the two MinGW-w64 toolchain files share. They set
# CMAKE_SYSTEM_PROCESSOR and VORNLINK_MINGW_PREFIX, then include this. The
# posix thread model is the only one with std::thread in this compiler.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VORNLINK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNLINK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNLINK_MINGW_PREFIX}-windres)
set(CMAKE_OBJCOPY ${VORNLINK_MINGW_PREFIX}-objcopy CACHE FILEPATH "")
set(CMAKE_STRIP ${VORNLINK_MINGW_PREFIX}-strip CACHE FILEPATH "")

# Libraries and headers only from the cross sysroot; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VORNLINK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
