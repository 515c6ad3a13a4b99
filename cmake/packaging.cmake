# Desktop integration, help pages, installation and the Debian package.
#
# Everything the programs read lives beside them, in the build tree as in the installed
# layout: <prefix>/lib/quellmark/ holds both programs, the catalogue, skin/, help/ and LibAV/;
# <prefix>/bin/ has links to the programs (they find their folder through /proc/self/exe,
# which names the real file, not the link).

set(QM_PROGRAM_FOLDER lib/quellmark)

# --- Beside the programs in the build tree -----------------------------------------------
# The help pages, opened from the main window's help menu.
file(GLOB QM_HELP_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/help/*)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/desktop/help.stamp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/help
  COMMAND ${CMAKE_COMMAND} -E copy ${QM_HELP_PAGES} ${CMAKE_BINARY_DIR}/help
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/desktop/help.stamp
  DEPENDS ${QM_HELP_PAGES}
  COMMENT "Help pages"
  VERBATIM)
add_custom_target(qm_help_pages ALL DEPENDS ${CMAKE_BINARY_DIR}/desktop/help.stamp)

# The private FFmpeg folder is empty but for the player configuration's placeholder file:
# the system's FFmpeg is used unless someone puts libraries there.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/LibAV)
if(NOT EXISTS ${CMAKE_BINARY_DIR}/LibAV/lib-base-u.dll)
  file(TOUCH ${CMAKE_BINARY_DIR}/LibAV/lib-base-u.dll)
endif()

# The application icon, drawn by our own generator at the sizes desktops look for.
add_executable(qm_icon_generator ${CMAKE_SOURCE_DIR}/desktop/icon_generator.cpp)
target_link_libraries(qm_icon_generator PRIVATE Qt6::Gui)
set_target_properties(qm_icon_generator PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/desktop)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/desktop/icons.stamp
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:qm_icon_generator> ${CMAKE_BINARY_DIR}/desktop/hicolor
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/desktop/icons.stamp
  DEPENDS qm_icon_generator
  COMMENT "Application icon"
  VERBATIM)
add_custom_target(qm_app_icon ALL DEPENDS ${CMAKE_BINARY_DIR}/desktop/icons.stamp)

# Relative links for <prefix>/bin, installed as links.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/desktop/bin)
foreach(program quellmark quellmark-cli)
  file(CREATE_LINK ../${QM_PROGRAM_FOLDER}/${program} ${CMAKE_BINARY_DIR}/desktop/bin/${program} SYMBOLIC)
endforeach()

# --- Installation -------------------------------------------------------------------------
install(TARGETS quellmark quellmark-cli RUNTIME DESTINATION ${QM_PROGRAM_FOLDER})
install(FILES ${CMAKE_BINARY_DIR}/Format.dat ${CMAKE_BINARY_DIR}/Group.dat DESTINATION ${QM_PROGRAM_FOLDER})
install(DIRECTORY ${CMAKE_BINARY_DIR}/skin DESTINATION ${QM_PROGRAM_FOLDER})
install(FILES ${QM_HELP_PAGES} DESTINATION ${QM_PROGRAM_FOLDER}/help)
install(FILES ${CMAKE_BINARY_DIR}/LibAV/lib-base-u.dll DESTINATION ${QM_PROGRAM_FOLDER}/LibAV)
install(FILES ${CMAKE_BINARY_DIR}/desktop/bin/quellmark ${CMAKE_BINARY_DIR}/desktop/bin/quellmark-cli
        DESTINATION bin)

install(FILES ${CMAKE_SOURCE_DIR}/desktop/quellmark.desktop DESTINATION share/applications)
install(DIRECTORY ${CMAKE_BINARY_DIR}/desktop/hicolor DESTINATION share/icons)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/quellmark.1 ${CMAKE_SOURCE_DIR}/desktop/quellmark-cli.1
        DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/quellmark-cli.bash DESTINATION share/bash-completion/completions
        RENAME quellmark-cli)
if(TARGET demo_movie)
  install(FILES ${CMAKE_BINARY_DIR}/demo/demo.swf DESTINATION share/doc/quellmark/examples)
endif()

# --- Debian package (cpack -G DEB) --------------------------------------------------------
set(CPACK_PACKAGE_NAME quellmark)
set(CPACK_PACKAGE_VENDOR "Brelvik")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Convert Flash movies (.swf) to video files")
set(CPACK_PACKAGE_DESCRIPTION "Quellmark Converter plays Flash movies with its own player and \
encodes them with the system's FFmpeg libraries: a desktop program (quellmark) and a \
command-line twin (quellmark-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brelvik Quellmark Converter developers")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FFmpeg is loaded at run time, so the linker cannot name it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libavcodec59, libavformat59, libavutil57, libavfilter8, libswscale6, libswresample4, libavdevice59")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, xdg-utils, fonts-liberation")
set(CPACK_STRIP_FILES ON)
include(CPack)
