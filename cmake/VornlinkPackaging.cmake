# What a site gets: `cmake --install` and the CPack packages.
#
#   Windows: Vornlink-<version>-win32.zip (win64 for the x86_64 build): the
#            DLL (stripped), vornlink.exe, the sample settings, the README's
#            operator section as README-operator.txt and its pictures. Where
#            the build splits the DLL's debug information off, it goes into a
#            second archive, Vornlink-<version>-win32-debug.zip, which
#            unpacks Vornlink.dll.debug into the same folder beside the DLL:
#            a developer's file, most of the size, that no site needs.
#   Linux:   Vornlink-<version>-linux.tar.gz: Vornlink.so and vornlink
#            (stripped), the same samples and text, and vornlink's manual
#            page (vornlink.1) and bash completion (vornlink.bash).
#
# Everything lies flat in the package's folder, as it lies beside the host.
# Build the packages with the target "package" (cpack) of a build folder.

set(VORNLINK_PACKAGE_TEXT ${PROJECT_BINARY_DIR}/package-text)
set(package_text_outputs
  ${VORNLINK_PACKAGE_TEXT}/README-operator.txt
  ${VORNLINK_PACKAGE_TEXT}/examples/tcp/Vornlink.xml
  ${VORNLINK_PACKAGE_TEXT}/examples/tcp/Vornlink.ini
  ${VORNLINK_PACKAGE_TEXT}/examples/soap-https/Vornlink.xml
  ${VORNLINK_PACKAGE_TEXT}/examples/soap-https/Vornlink.ini
  ${VORNLINK_PACKAGE_TEXT}/examples/transactions.csv)
# Text files with the platform's line ends (CR LF for Windows, where the
# samples are edited with Notepad).
add_custom_command(OUTPUT ${package_text_outputs}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT_DIR=${VORNLINK_PACKAGE_TEXT}
          -DCRLF=$<BOOL:${WIN32}> -P ${CMAKE_CURRENT_LIST_DIR}/VornlinkPackageText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md
          ${PROJECT_SOURCE_DIR}/examples/tcp/Vornlink.xml
          ${PROJECT_SOURCE_DIR}/examples/tcp/Vornlink.ini
          ${PROJECT_SOURCE_DIR}/examples/soap-https/Vornlink.xml
          ${PROJECT_SOURCE_DIR}/examples/soap-https/Vornlink.ini
          ${PROJECT_SOURCE_DIR}/examples/transactions.csv
          ${CMAKE_CURRENT_LIST_DIR}/VornlinkPackageText.cmake
  COMMENT "Text files of the package"
  VERBATIM)
add_custom_target(vornlink_package_text ALL DEPENDS ${package_text_outputs})

if(WIN32)
  # The DLL is installed as built: the shipping build has stripped it already
  # and linked it to its debug file, which a second strip must not touch.
  install(FILES $<TARGET_FILE:Vornlink> DESTINATION . COMPONENT site)
  if(VORNLINK_SPLIT_DEBUG)
    install(FILES $<TARGET_FILE:Vornlink>.debug DESTINATION . COMPONENT debug)
  endif()
else()
  install(TARGETS Vornlink LIBRARY DESTINATION . COMPONENT site)
endif()
install(TARGETS vornlink RUNTIME DESTINATION . COMPONENT site)
if(NOT WIN32)
  # Made from the program's list of commands (tools/CMakeLists.txt).
  install(FILES ${PROJECT_BINARY_DIR}/generated/vornlink.1
                ${PROJECT_BINARY_DIR}/generated/vornlink.bash
          DESTINATION . COMPONENT site)
endif()
install(FILES ${VORNLINK_PACKAGE_TEXT}/README-operator.txt DESTINATION . COMPONENT site)
install(DIRECTORY ${VORNLINK_PACKAGE_TEXT}/examples/ DESTINATION examples COMPONENT site)
install(FILES ${PROJECT_SOURCE_DIR}/docs/properties-dialog.png
              ${PROJECT_SOURCE_DIR}/docs/server-dialog.png
        DESTINATION docs COMPONENT site)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_SYSTEM_NAME linux)
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_PACKAGE_NAME Vornlink)
set(CPACK_PACKAGE_VENDOR Vornlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vornlink: books fluid dispenses in the dealer management system")
set(CPACK_PACKAGE_FILE_NAME Vornlink-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
if(WIN32 AND VORNLINK_SPLIT_DEBUG)
  # One archive per component; both unpack into the folder of the same name.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL site debug)
  set(CPACK_ARCHIVE_SITE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
  set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${CPACK_PACKAGE_FILE_NAME}-debug)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
