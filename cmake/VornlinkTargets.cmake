# Compiler settings shared by every target of the project.

add_library(vornlink_options INTERFACE)
target_compile_options(vornlink_options INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wno-unused-parameter>)
target_include_directories(vornlink_options INTERFACE
  ${PROJECT_SOURCE_DIR}/src
  ${PROJECT_BINARY_DIR}/generated)

if(WIN32)
  # Conforming printf family (%lld, %zu) from the MinGW runtime.
  target_compile_definitions(vornlink_options INTERFACE
    __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # The runtime goes into each binary: sites get one DLL that imports only
  # Windows system DLLs.
  target_link_options(vornlink_options INTERFACE -static -static-libgcc -static-libstdc++)
else()
  target_compile_definitions(vornlink_options INTERFACE _GNU_SOURCE)
  find_package(Threads REQUIRED)
  target_link_libraries(vornlink_options INTERFACE Threads::Threads ${CMAKE_DL_LIBS})
endif()
