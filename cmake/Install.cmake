# What `cmake --install` puts where, beyond the programs and note_symbol.txt (installed next
# to their targets), and the Debian package CPack builds from it.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/res/sonavel.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/sonavel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/sonavel.1
              ${PROJECT_SOURCE_DIR}/docs/man/sonavel-train.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "sonavel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Sonavel developers")
set(CPACK_PACKAGE_CONTACT "Sonavel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Trains note patterns from a microphone or a recording")
set(CPACK_PACKAGE_DESCRIPTION
    "Sonavel listens to notes played one at a time, from the sound card or a sound file, and\
 keeps a pattern of each note's spectrum for later recognition. It has a desktop program\
 (sonavel) and a command-line trainer (sonavel-train).")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Sonavel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The runtime dependencies come from Debian's packages, found by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
