# SPDX-License-Identifier: MIT
# Installation of everything besides the programs (their install() rules sit
# beside their targets), and the Debian packages built by CPack:
#   hubtools      component "cli": hubctl, hubflash, hubsim and their manual pages
#   hubtools-gui  component "gui": hubpanel, portdesk, their manual pages,
#                 desktop entries and icon
# `cmake --install BUILD` installs both; `cpack -G DEB` in BUILD makes the
# packages, with dependencies computed from the binaries by dpkg-shlibdeps.

include(GNUInstallDirs)

set(HUB_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(HUB_MAN_BUILD_DIR ${CMAKE_BINARY_DIR}/packaging/man)

# Manual pages are installed gzip-compressed (gzip -9n: no name, no time
# stamp), as Debian keeps them.
find_program(HUB_GZIP gzip REQUIRED)

function(hub_man_pages component)
  set(compressed)
  foreach(page IN LISTS ARGN)
    set(source ${HUB_PACKAGING_DIR}/man/${page}.1)
    set(copy ${HUB_MAN_BUILD_DIR}/${page}.1)
    add_custom_command(
      OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${HUB_MAN_BUILD_DIR}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
      COMMAND ${HUB_GZIP} -9nf ${copy}
      DEPENDS ${source}
      COMMENT "Compressing manual page ${page}(1)"
      VERBATIM)
    list(APPEND compressed ${copy}.gz)
  endforeach()
  add_custom_target(hub_man_pages_${component} ALL DEPENDS ${compressed})
  install(FILES ${compressed}
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endfunction()

hub_man_pages(cli hubctl hubflash hubsim)
set(HUB_PACKAGE_COMPONENTS cli)

if(HUB_BUILD_GUI)
  hub_man_pages(gui hubpanel portdesk)
  install(FILES ${HUB_PACKAGING_DIR}/hubpanel.desktop ${HUB_PACKAGING_DIR}/portdesk.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT gui)
  install(FILES ${HUB_PACKAGING_DIR}/hubtools.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          COMPONENT gui)
  list(APPEND HUB_PACKAGE_COMPONENTS gui)
endif()

# --- CPack: Debian packages ------------------------------------------------

set(HUB_PACKAGE_MAINTAINER
    "Seed a2cc53e7 maintainers <maintainers@users.noreply.c-seed-a2cc53e7.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hubtools)
set(CPACK_PACKAGE_VENDOR "Managed USB Hub tools")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${HUB_PACKAGE_MAINTAINER})
set(CPACK_COMPONENTS_ALL ${HUB_PACKAGE_COMPONENTS})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${HUB_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME hubtools)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME hubtools-gui)
# After a firmware update that failed half way, hubflash --recover is the way
# to program the hub again.
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS hubtools)

# First line: the synopsis; the rest: the long description, where an empty
# line separates paragraphs and a line that begins with a blank is shown as
# it is. (CPack strips the last line, so it is not an indented one.)
set(CPACK_COMPONENT_CLI_DESCRIPTION
"command-line tools for Managed USB Hubs
Managed USB Hubs are USB hubs whose downstream ports a microcontroller
switches on and off, driven over a USB serial control port.

This package holds the tools without a window:
 - hubctl: queries hubs; switches, saves and reads port states; changes
   the password; reads and writes the description; resets the hub. Its
   JSON request and reply mode serves scripts.
 - hubflash: updates a hub's firmware from the command line.
 - hubsim: serves virtual hubs on pseudo-terminals.
With hubsim the tools and the scripts built on them can be tried and tested
without hardware.")

set(CPACK_COMPONENT_GUI_DESCRIPTION
"desktop applications for Managed USB Hubs
Managed USB Hubs are USB hubs whose downstream ports a microcontroller
switches on and off, driven over a USB serial control port.

This package holds the Qt windows:
 - hubpanel: hub list, port switches, the protected operations and the
   firmware update;
 - portdesk: the older, reduced window without description editing and
   firmware update.
The command-line tools are in the package hubtools.")

include(CPack)
