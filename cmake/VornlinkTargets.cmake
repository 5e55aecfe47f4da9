# Compiler settings shared by every target of the project.

add_library(vornlink_options INTERFACE)
target_compile_options(vornlink_options INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wno-unused-parameter>
  # Each function and object in a section of its own, so that a link with
  # --gc-sections (the module's) leaves out what nothing calls.
  $<$<CXX_COMPILER_ID:GNU,Clang>:-ffunction-sections -fdata-sections>
  # Optimised for size: the driver's time goes to the disk and the network, and -O2's inlining of
  # string code made the modules nearly twice as big for no call measurably faster
  # (docs/performance.md). Comes after the build type's -O2, so it wins.
  $<$<AND:$<CXX_COMPILER_ID:GNU,Clang>,$<CONFIG:Release,RelWithDebInfo>>:-Os>)
target_include_directories(vornlink_options INTERFACE ${PROJECT_BINARY_DIR}/generated)

if(WIN32)
  # The oldest Windows the binaries run on: 7 (6.1). The headers offer no
  # function it lacks, and the PE header says so, so that an older Windows
  # refuses the DLL at once rather than failing at its first missing import
  # (scripts/test-windows.sh checks the imports against that version).
  set(VORNLINK_WINDOWS_MAJOR 6)
  set(VORNLINK_WINDOWS_MINOR 1)
  # Conforming printf family (%lld, %zu) from the MinGW runtime.
  target_compile_definitions(vornlink_options INTERFACE
    __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # The runtime goes into each binary: sites get one DLL that imports only
  # Windows system DLLs.
  target_link_options(vornlink_options INTERFACE -static -static-libgcc -static-libstdc++
    -Wl,--major-subsystem-version,${VORNLINK_WINDOWS_MAJOR}
    -Wl,--minor-subsystem-version,${VORNLINK_WINDOWS_MINOR}
    -Wl,--major-os-version,${VORNLINK_WINDOWS_MAJOR}
    -Wl,--minor-os-version,${VORNLINK_WINDOWS_MINOR})
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

# vornlink_folder_library(<folder> SOURCES <files...>
#                         [PUBLIC <folders...>] [PRIVATE <folders...>])
# The static library vornlink_<folder> of src/<folder>. Its include root
# (include/<folder> in the build folder) holds nothing but a link to the
# folder itself, so a file may include another folder's header only when
# that folder's library is among its links: PUBLIC where this folder's
# headers include the other's, PRIVATE where only its sources do. The
# folders are added lowest first (src/CMakeLists.txt) and a library may link
# only those added before it: an upward link stops the configuration, an
# upward include the build.
function(vornlink_folder_library folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(library vornlink_${folder})
  set(root ${PROJECT_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  add_library(${library} STATIC ${ARG_SOURCES})
  target_include_directories(${library} PUBLIC ${root})
  target_link_libraries(${library} PUBLIC vornlink_options)
  foreach(scope PUBLIC PRIVATE)
    foreach(below IN LISTS ARG_${scope})
      if(NOT TARGET vornlink_${below})
        message(FATAL_ERROR "src/${folder} may not use src/${below}: a folder uses only the "
                            "folders added before it in src/CMakeLists.txt")
      endif()
      target_link_libraries(${library} ${scope} vornlink_${below})
    endforeach()
  endforeach()
  set_property(GLOBAL APPEND PROPERTY VORNLINK_FOLDER_LIBRARIES ${library})
endfunction()
