# Install rules, which the Debian packages (debian/) use too.
#
#   cmake --install BUILD                       the program, its manual page and documents
#   cmake --install BUILD --component sealer    the sealing plug-in, never installed by default
include(GNUInstallDirs)

# The plug-in's folder. The program has no run path: it looks for the
# plug-in in <program folder>/../${CMAKE_INSTALL_LIBDIR}/corvane itself
# (platform/platform_posix.cpp), so an installed tree can be moved as a whole.
set(CORVANE_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/corvane")

install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT corvane)
install(FILES doc/corvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT corvane)
install(FILES README.md format/FORMAT.md LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT corvane)

if(TARGET sealer)
  # With the plug-in installed every ".txt" compression is sealed, so only
  # an explicit request installs it.
  install(TARGETS sealer LIBRARY DESTINATION ${CORVANE_PLUGIN_DIR} COMPONENT sealer EXCLUDE_FROM_ALL)
endif()
