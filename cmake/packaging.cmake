# Install rules and Debian packages.
#
#   cmake --install BUILD                       the program, its manual page and documents
#   cmake --install BUILD --component sealer    the sealing plug-in, never installed by default
#   cpack -G DEB (in BUILD)                     corvane_*.deb and corvane-sealer_*.deb
include(GNUInstallDirs)

# The plug-in's folder. The program has no run path: it looks for the
# plug-in in <program folder>/../${CMAKE_INSTALL_LIBDIR}/corvane itself
# (platform/platform_posix.cpp), so an installed tree can be moved as a whole.
set(CORVANE_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/corvane")

install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT corvane)
install(FILES doc/corvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT corvane)
install(FILES README.md format/FORMAT.md LICENSE doc/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT corvane)
set(CPACK_COMPONENTS_ALL corvane)

if(TARGET sealer)
  # With the plug-in installed every ".txt" compression is sealed, so only
  # an explicit request installs it.
  install(TARGETS sealer LIBRARY DESTINATION ${CORVANE_PLUGIN_DIR} COMPONENT sealer EXCLUDE_FROM_ALL)
  install(FILES doc/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvane-sealer
          COMPONENT sealer EXCLUDE_FROM_ALL)
  list(APPEND CPACK_COMPONENTS_ALL sealer)
endif()

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "the Corvane authors")
set(CPACK_PACKAGE_CONTACT "the Corvane authors")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_CORVANE_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_SEALER_PACKAGE_NAME corvane-sealer)
include(CPack)

# Each description's first line is its package's summary.
cpack_add_component(corvane DISPLAY_NAME "corvane" REQUIRED
  DESCRIPTION "compress one file with a static Huffman code
Corvane compresses one file with a static Huffman code over the 256 byte
values and restores it again. This package holds the program, its manual
page and the description of the compressed file format.")
cpack_add_component(sealer DISPLAY_NAME "corvane sealer" DEPENDS corvane
  DESCRIPTION "passphrase sealing plug-in for corvane
With this plug-in installed, corvane seals every compressed text file with
a passphrase (AES-256-GCM with a key derived by scrypt, from OpenSSL) and
unseals sealed files again, for every user of the machine. It also makes
corvane remove files: NAME.txt.lx once it is sealed into NAME.proto, and,
after an extraction that wrote its output, the compressed file named on the
command line (NAME.lx) or the unsealed copy of NAME.proto. Setting
CORVANE_PLUGIN=off in the environment makes corvane run as if this package
were not installed: nothing is sealed, unsealed or removed.")
