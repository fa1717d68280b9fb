# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where, and the Debian package built from it with `cpack -G DEB`.
#
#   bin/sumpwell
#   share/applications/org.cistern.Sumpwell.desktop
#   share/metainfo/org.cistern.Sumpwell.metainfo.xml
#   share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/org.cistern.Sumpwell.png
#   share/icons/hicolor/scalable/apps/org.cistern.Sumpwell.svg
#   share/man/man1/sumpwell.1.gz
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
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
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

include(CPack)
