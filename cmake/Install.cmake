# What `cmake --install` puts where, beyond the programs and note_symbol.txt (installed next
# to their targets), and the Debian package CPack builds from it.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/res/sonavel.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/sonavel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Man pages and the changelog are installed compressed, as Debian's policy wants them:
# gzip -9n (no name or time stamp in the header, so the package is reproducible).
find_program(SONAVEL_GZIP gzip REQUIRED)
function(sonavel_gzip source output)
  get_filename_component(name ${source} NAME)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${name}
    COMMAND ${SONAVEL_GZIP} -9nf ${dir}/${name}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
endfunction()

set(SONAVEL_MAN_GZ)
foreach(page sonavel sonavel-train sonavel-recognize)
  sonavel_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  list(APPEND SONAVEL_MAN_GZ ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
set(SONAVEL_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/doc/changelog.gz)
sonavel_gzip(${PROJECT_SOURCE_DIR}/docs/debian/changelog ${SONAVEL_CHANGELOG_GZ})
add_custom_target(sonavel_compressed_docs ALL DEPENDS ${SONAVEL_MAN_GZ} ${SONAVEL_CHANGELOG_GZ})

install(FILES ${SONAVEL_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The package's copyright and changelog, where Debian keeps them.
install(FILES ${PROJECT_SOURCE_DIR}/docs/debian/copyright ${SONAVEL_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonavel)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "sonavel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Sonavel developers")
set(CPACK_PACKAGE_CONTACT "Sonavel developers <developers@sonavel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Learns and recognises the notes of an instrument")
# One paragraph, its lines short enough for package tools to show as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Sonavel listens to notes played one at a time, from the sound card or a"
  "sound file, and keeps a pattern of each note's spectrum: its six strongest"
  "peaks with their weights. The patterns are written to a text listing and to"
  "binary pattern files, from which it recognises the notes of the trained"
  "instrument in recordings and live, writing them as text, JSON or MIDI. The"
  "package has a desktop program (sonavel), a command-line trainer"
  "(sonavel-train) and a recogniser (sonavel-recognize).")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Sonavel developers <developers@sonavel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The runtime dependencies come from Debian's packages, found by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
