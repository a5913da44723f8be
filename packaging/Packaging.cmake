# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `cpack -G DEB` in the build folder makes
# rastrace_<version>_amd64.deb with both programs in /usr/bin, the desktop
# entry and icon (installed by ui/), manual pages, the copyright file and the
# changelog. dpkg-shlibdeps works out the libraries it needs.
include(GNUInstallDirs)

set(RASTRACE_PACKAGE_MAINTAINER "Rastrace maintainers <maintainers@users.noreply.c-seed-5ae84f19.example>"
  CACHE STRING "Maintainer named in the Debian package and its changelog")
set(RASTRACE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/rastrace)
set(RASTRACE_MAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${RASTRACE_MAN_DIR})

find_program(RASTRACE_HELP2MAN help2man)
find_program(RASTRACE_GZIP gzip)
if(NOT RASTRACE_GZIP)
  message(WARNING "gzip not found: no manual pages or changelog are installed")
else()
  set(RASTRACE_PACKAGE_DOCS "")

  # rastrace-cli's manual page, made from its own --help and --version.
  # help2man reads only "or:" lines as further synopsis lines, so the help
  # reaches it through a script that writes the second usage line that way.
  if(RASTRACE_HELP2MAN)
    file(GENERATE OUTPUT ${RASTRACE_MAN_DIR}/bin/rastrace-cli
      CONTENT "#!/bin/sh\n\"$<TARGET_FILE:rastrace-cli>\" \"$@\" | sed 's/^       rastrace-cli /  or:  rastrace-cli /'\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    add_custom_command(OUTPUT ${RASTRACE_MAN_DIR}/rastrace-cli.1.gz
      COMMAND ${RASTRACE_HELP2MAN} --no-info --section=1 --source=Rastrace
              "--name=convert a scanned circuit-board picture into PCB tracks"
              --output=${RASTRACE_MAN_DIR}/rastrace-cli.1 ${RASTRACE_MAN_DIR}/bin/rastrace-cli
      COMMAND ${RASTRACE_GZIP} -9nf ${RASTRACE_MAN_DIR}/rastrace-cli.1
      DEPENDS rastrace-cli
      COMMENT "Making the manual page of rastrace-cli with help2man"
      VERBATIM)
    list(APPEND RASTRACE_PACKAGE_DOCS ${RASTRACE_MAN_DIR}/rastrace-cli.1.gz)
    install(FILES ${RASTRACE_MAN_DIR}/rastrace-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(WARNING "help2man not found: rastrace-cli gets no manual page (scripts/install-deps.sh installs it)")
  endif()

  if(RASTRACE_BUILD_UI)
    add_custom_command(OUTPUT ${RASTRACE_MAN_DIR}/rastrace.1.gz
      COMMAND ${RASTRACE_GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/packaging/rastrace.1 > ${RASTRACE_MAN_DIR}/rastrace.1.gz
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/rastrace.1
      VERBATIM)
    list(APPEND RASTRACE_PACKAGE_DOCS ${RASTRACE_MAN_DIR}/rastrace.1.gz)
    install(FILES ${RASTRACE_MAN_DIR}/rastrace.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()

  # A package without a Debian revision is a native one: its changelog is
  # changelog.gz, whose newest entry names the package's version.
  string(TIMESTAMP RASTRACE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "${RASTRACE_PACKAGE_MAINTAINER}")
  configure_file(packaging/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog @ONLY)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${RASTRACE_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog
    VERBATIM)
  list(APPEND RASTRACE_PACKAGE_DOCS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${RASTRACE_DOC_DIR})

  add_custom_target(rastrace_package_docs ALL DEPENDS ${RASTRACE_PACKAGE_DOCS})
endif()

install(FILES packaging/copyright DESTINATION ${RASTRACE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rastrace)
set(CPACK_PACKAGE_VENDOR "The Rastrace developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RASTRACE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn scanned circuit-board pictures into PCB tracks")
# The summary above is the synopsis line; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Rastrace reads a scan of a printed-circuit board (BMP, PNG, TIFF or
JPEG), lets the user pick the colours that stand for copper and for the
rest, and turns the copper into tracks (a PCB FILE 4 ASCII track file or a
PADS ASCII file) or into areas covering exactly the traced pixels (Gerber
RS-274X or a KiCad footprint). It traces noisy scans with a colour
tolerance, background colours and speckle removal, and streams huge scans
in little memory.
.
It comes as a window program (rastrace) and a command-line converter
(rastrace-cli) that share one core.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(RASTRACE_BUILD_UI)
  # Loaded at run time, so dpkg-shlibdeps cannot see them: the CJK font of
  # the window's texts and Qt's platform plugins.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, qt6-qpa-plugins")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
