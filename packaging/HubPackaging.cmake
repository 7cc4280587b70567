# SPDX-License-Identifier: MIT
# Installation of everything besides the programs (their install() rules sit
# beside their targets), and the Debian packages built by CPack:
#   hubtools      component "cli": hubctl, hubflash, hubsim, their manual pages
#                 and bash completion
#   hubtools-gui  component "gui": hubpanel, portdesk, their manual pages,
#                 desktop entries, AppStream metadata and icon
#   python3-hubtools  component "python": the Python package hubtools (its
#                 install rules are in python/), needing hubtools' network
#                 library for URLs
# Each carries the Debian copyright file and changelog in share/doc/PACKAGE.
# `cmake --install BUILD` installs them all; `cpack -G DEB` in BUILD makes the
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

# The Debian changelog, compressed as the manual pages are; its newest entry
# must carry the version CPack gives the packages.
set(HUB_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${HUB_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND ${CMAKE_COMMAND} -E copy ${HUB_PACKAGING_DIR}/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  COMMAND ${HUB_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${HUB_PACKAGING_DIR}/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(hub_changelog ALL DEPENDS ${HUB_CHANGELOG})

function(hub_package_docs component package)
  install(FILES ${HUB_PACKAGING_DIR}/copyright ${HUB_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
  # Only what the packages need: a tag that does not apply to them, see the file.
  install(FILES ${HUB_PACKAGING_DIR}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME ${package}
          COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endfunction()

# A stripped install (CPack strips) also drops the compiler's .comment
# section, as Debian's dh_strip does; strip alone keeps it. Runs after the
# programs' own install rules, which come earlier in the tree.
function(hub_strip_comments component)
  foreach(file IN LISTS ARGN)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()"
            COMPONENT ${component})
  endforeach()
endfunction()

hub_man_pages(cli hubctl hubflash hubsim)
hub_package_docs(cli hubtools)
# Who may switch a hub, and the settings for a lab: the manual pages point here.
install(FILES ${PROJECT_SOURCE_DIR}/docs/security.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/hubtools
        COMPONENT cli)
hub_strip_comments(cli ${CMAKE_INSTALL_BINDIR}/hubctl ${CMAKE_INSTALL_BINDIR}/hubflash
                       ${CMAKE_INSTALL_BINDIR}/hubsim ${HUB_NETLINE_DIR}/libnetline.so)
set(HUB_PACKAGE_COMPONENTS cli)

# One completion file serves the three programs; bash-completion loads it
# by the command's name, so the other two names link to it.
set(HUB_COMPLETION_DIR ${CMAKE_BINARY_DIR}/packaging/bash-completion)
file(MAKE_DIRECTORY ${HUB_COMPLETION_DIR})
configure_file(${HUB_PACKAGING_DIR}/bash-completion/hubtools ${HUB_COMPLETION_DIR}/hubctl COPYONLY)
file(CREATE_LINK hubctl ${HUB_COMPLETION_DIR}/hubflash SYMBOLIC)
file(CREATE_LINK hubctl ${HUB_COMPLETION_DIR}/hubsim SYMBOLIC)
install(FILES ${HUB_COMPLETION_DIR}/hubctl ${HUB_COMPLETION_DIR}/hubflash ${HUB_COMPLETION_DIR}/hubsim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        COMPONENT cli)

if(HUB_BUILD_GUI)
  hub_man_pages(gui hubpanel portdesk)
  hub_package_docs(gui hubtools-gui)
  hub_strip_comments(gui ${CMAKE_INSTALL_BINDIR}/hubpanel ${CMAKE_INSTALL_BINDIR}/portdesk)
  # The desktop entries are named by their AppStream IDs.
  install(FILES ${HUB_PACKAGING_DIR}/org.example.hubtools.hubpanel.desktop
                ${HUB_PACKAGING_DIR}/org.example.hubtools.portdesk.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT gui)
  install(FILES ${HUB_PACKAGING_DIR}/org.example.hubtools.hubpanel.metainfo.xml
                ${HUB_PACKAGING_DIR}/org.example.hubtools.portdesk.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT gui)
  install(FILES ${HUB_PACKAGING_DIR}/hubtools.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          COMPONENT gui)
  list(APPEND HUB_PACKAGE_COMPONENTS gui)
endif()

if(TARGET _hubtools)
  hub_package_docs(python python3-hubtools)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/python.md ${PROJECT_SOURCE_DIR}/docs/lava.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-hubtools COMPONENT python)
  # HUB_PYTHON_SITE is set by python/'s install rules, at install time.
  hub_strip_comments(python "\${HUB_PYTHON_SITE}/hubtools/$<TARGET_FILE_NAME:_hubtools>")
  list(APPEND HUB_PACKAGE_COMPONENTS python)
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
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${HUB_PACKAGING_DIR}/changelog)
file(STRINGS ${HUB_PACKAGING_DIR}/changelog HUB_CHANGELOG_TOP LIMIT_COUNT 1)
set(HUB_DEBIAN_VERSION ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
if(NOT HUB_CHANGELOG_TOP MATCHES "^hubtools \\(${HUB_DEBIAN_VERSION}\\) ")
  message(WARNING "packaging/changelog: the newest entry is not for ${HUB_DEBIAN_VERSION}: ${HUB_CHANGELOG_TOP}")
endif()
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
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-hubtools)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The extension is built for one Python ABI, as dh_python3 would state it;
# URLs load the network library of the same release's hubtools.
if(TARGET _hubtools)
  math(EXPR hub_python_next "${HUB_PYTHON_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= 3.${HUB_PYTHON_MINOR}~), python3 (<< 3.${hub_python_next}), hubtools (= ${HUB_DEBIAN_VERSION})")
endif()

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

set(CPACK_COMPONENT_PYTHON_DESCRIPTION
"Python package for Managed USB Hubs
Managed USB Hubs are USB hubs whose downstream ports a microcontroller
switches on and off, driven over a USB serial control port.

This package holds the Python 3 package hubtools: hubs as objects with
typed errors, the search, firmware updates, a virtual hub for tests, pytest
fixtures (loaded as a pytest plugin) and a pdudaemon driver. It talks to
the hubs as hubctl does, so both can drive one hub together.")

include(CPack)
