# GoogleTest and the one helper that adds a test.

if(CMAKE_CROSSCOMPILING)
  # Debian ships the sources; build them with the cross compiler. Under MinGW
  # GoogleTest locks with the Windows primitives whatever the thread model.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Warnings of GoogleTest's own code are not ours to fix.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
  # Newer GoogleTest versions define the namespaced names themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# vornlink_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>])
# One test executable, run by CTest (under Wine when cross-built); LIBS are
# the libraries of the folders it tests and includes.
function(vornlink_add_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE
    vornlink_testing vornlink_options GTest::gtest_main ${ARG_LIBS})
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT 600)
endfunction()
