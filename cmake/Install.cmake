# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where, and the Debian package built from it with `cpack -G DEB`.
#
#   bin/sumpwell
#   share/applications/org.cistern.Sumpwell.desktop
#   share/metainfo/org.cistern.Sumpwell.metainfo.xml
#   share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/org.cistern.Sumpwell.png
#   share/icons/hicolor/scalable/apps/org.cistern.Sumpwell.svg
#   share/man/man1/sumpwell.1.gz
#   share/doc/sumpwell/copyright          (docs/copyright: the licence of each file, DEP-5 format)
#   share/doc/sumpwell/changelog.gz       (NEWS, in the form of a Debian changelog)
#
# The application id names the desktop entry, the metainfo and the icon alike; the program tells
# Qt the same name (QGuiApplication::setDesktopFileName, from resources/src/identity.cpp) so that
# the desktop can match its window.
#
# The manual page and the metainfo carry the version of project(): they are made from their .in
# sources when CMake configures.
include(GNUInstallDirs)
set(SUMPWELL_APP_ID org.cistern.Sumpwell)
set(CISTERN_VERSION_FULL
    ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK})
set(sumpwell_metainfo ${PROJECT_BINARY_DIR}/desktop/${SUMPWELL_APP_ID}.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/desktop/${SUMPWELL_APP_ID}.metainfo.xml.in ${sumpwell_metainfo} @ONLY)
set(sumpwell_man ${PROJECT_BINARY_DIR}/man/sumpwell.1)
configure_file(${PROJECT_SOURCE_DIR}/man/sumpwell.1.in ${sumpwell_man} @ONLY)

install(TARGETS sumpwell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/desktop/${SUMPWELL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${sumpwell_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

foreach(size 16 32 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/sumpwell-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${SUMPWELL_APP_ID}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/sumpwell.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${SUMPWELL_APP_ID}.svg)

# The manual page, compressed as Debian keeps them (-n: no name or time stamp, so the same page
# gives the same bytes).
set(sumpwell_man_gz ${PROJECT_BINARY_DIR}/man/sumpwell.1.gz)
add_custom_command(
  OUTPUT ${sumpwell_man_gz}
  COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${sumpwell_man} ${sumpwell_man_gz}
  DEPENDS ${sumpwell_man}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(sumpwell_manpage ALL DEPENDS ${sumpwell_man_gz})
install(FILES ${sumpwell_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence and the changes, where Debian keeps them: /usr/share/doc/PACKAGE, named after the
# package rather than after project() (GNUInstallDirs' DOCDIR would be share/doc/Cistern).
# NEWS is written as a Debian changelog, since a package whose version has no Debian revision
# ships its changelog as changelog.gz and lintian reads that file as one. Compressed like the
# manual page, with -9 as Debian policy asks.
set(sumpwell_docdir ${CMAKE_INSTALL_DATADIR}/doc/sumpwell)
set(sumpwell_changelog_gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(
  OUTPUT ${sumpwell_changelog_gz}
  COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${PROJECT_SOURCE_DIR}/NEWS ${sumpwell_changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/NEWS
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(sumpwell_changelog ALL DEPENDS ${sumpwell_changelog_gz})
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${sumpwell_changelog_gz} DESTINATION ${sumpwell_docdir})

# ---- Debian package ---------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sumpwell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Cistern)
set(CPACK_PACKAGE_CONTACT "Cistern <dev@cistern.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show every line of text that arrives on a UDP or TCP port")
# Wrapped as the control file shows it: CPack starts each line with a space.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Sumpwell is a desktop program that listens on one network port of this"
  "machine, UDP or TCP, and shows every line of text that arrives in a"
  "read-only log window. Point the devices and programs whose debug or log"
  "output you want to watch at it; clear the log when you like and save what"
  "you saw to a file.")
# The DEB generator installs under /usr by itself (CPACK_PACKAGING_INSTALL_PREFIX is not set here,
# since it would also put the source tarball's files under usr/).
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Cistern <dev@cistern.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Runtime libraries as dpkg-shlibdeps (dpkg-dev) finds them in the binary. Qt's X11 platform
# plugin ships in libqt6gui6; the Wayland one is separate, and without it Qt runs through
# XWayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# Control files (md5sums and the like) 0644 and owned by root, as dpkg-deb and lintian expect.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# ---- Source tarball -----------------------------------------------------------------------------------
# `cpack --config CPackSourceConfig.cmake` in the build folder makes sumpwell-VERSION.tar.gz of the
# source tree, leaving out git's data and whatever a build or an editor leaves in the tree.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME sumpwell-${PROJECT_VERSION})
set(CPACK_SOURCE_IGNORE_FILES
    "/\\.git/" "/\\.git$" "/\\.cache/" "/build[^/]*/" "/_CPack_Packages/" "/CMakeFiles/"
    "/CMakeCache\\.txt$" "/compile_commands\\.json$" "\\.swp$" "~$")
# The values reach CPack's config files as they are written here (regular expressions and all).
set(CPACK_VERBATIM_VARIABLES ON)

include(CPack)
