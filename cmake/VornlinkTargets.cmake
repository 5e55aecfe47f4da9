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

# Sanitizer builds of the native code (presets "tsan" and "asan"):
# VORNLINK_SANITIZE=thread (gcc) or address (clang: AddressSanitizer and
# UndefinedBehaviorSanitizer, with the shared runtime so that the module and
# the programs that load it share one).
set(VORNLINK_SANITIZE "" CACHE STRING "thread or address: build with sanitizers")
if(VORNLINK_SANITIZE STREQUAL "thread")
  target_compile_options(vornlink_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(vornlink_options INTERFACE -fsanitize=thread)
elseif(VORNLINK_SANITIZE STREQUAL "address")
  set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  target_compile_options(vornlink_options INTERFACE ${sanitizers} -fno-omit-frame-pointer)
  target_link_options(vornlink_options INTERFACE ${sanitizers} -shared-libsan)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-x86_64.so
    OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(asan_runtime_dir ${asan_runtime} DIRECTORY)
  target_link_options(vornlink_options INTERFACE -Wl,-rpath,${asan_runtime_dir})
elseif(VORNLINK_SANITIZE)
  message(FATAL_ERROR "VORNLINK_SANITIZE must be thread or address")
endif()
