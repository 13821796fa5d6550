# Install rules, which the Debian packages (debian/) use too.
#
#   cmake --install BUILD                       the program, its manual page and documents
#   cmake --install BUILD --component sealer    the sealing plug-in, never installed by default
include(GNUInstallDirs)

# The plug-in's folder, and the installed program's run path to it relative
# to the program's own folder, so that an installed tree can be moved as a
# whole.
set(CORVANE_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/corvane")
file(RELATIVE_PATH plugin_dir_from_program "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_LIBDIR}/corvane")

# The installed program is linked a second time with its final run path.
# Rewriting the build tree's "$ORIGIN" at install time instead would leave
# an empty entry in it, which the loader reads as the working folder.
get_target_property(program_sources corvane SOURCES)
get_target_property(program_libraries corvane LINK_LIBRARIES)
add_executable(corvane_to_install ${program_sources})
target_link_libraries(corvane_to_install PRIVATE ${program_libraries})
get_target_property(program_link_options corvane LINK_OPTIONS)
if(program_link_options)
  target_link_options(corvane_to_install PRIVATE ${program_link_options})
endif()
set_target_properties(corvane_to_install PROPERTIES
  OUTPUT_NAME corvane
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/to-install"
  BUILD_WITH_INSTALL_RPATH ON
  INSTALL_RPATH "$ORIGIN/${plugin_dir_from_program}")

install(TARGETS corvane_to_install RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT corvane)
install(FILES doc/corvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT corvane)
install(FILES README.md format/FORMAT.md LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT corvane)

if(TARGET sealer)
  # With the plug-in installed every ".txt" compression is sealed, so only
  # an explicit request installs it.
  install(TARGETS sealer LIBRARY DESTINATION ${CORVANE_PLUGIN_DIR} COMPONENT sealer EXCLUDE_FROM_ALL)
endif()
