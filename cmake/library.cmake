# libcorvane: the engine as a library, static (libcorvane.a, which the
# program links) and shared (libcorvane.so.1, or corvane-1.dll with its
# import library libcorvane.dll.a), with the header, a pkg-config file and a
# CMake package, installed under GNUInstallDirs:
#
#   cmake --install BUILD --component libcorvane       the shared library
#   cmake --install BUILD --component libcorvane-dev   header, static library, corvane.pc, CMake package
#
# Only the corvane_ functions of include/corvane.h are exported from the
# shared library.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CORVANE_ABI_VERSION 1)
set(CORVANE_VERSION_TEXT "${PROJECT_VERSION}")

function(corvane_engine_settings target)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_definitions(${target} PRIVATE CORVANE_VERSION_TEXT="${CORVANE_VERSION_TEXT}")
endfunction()

add_library(corvane_static STATIC ${CORVANE_ENGINE_SOURCES})
corvane_engine_settings(corvane_static)
target_compile_definitions(corvane_static PUBLIC CORVANE_STATIC)
set_target_properties(corvane_static PROPERTIES OUTPUT_NAME corvane EXPORT_NAME corvane_static)

add_library(corvane_shared SHARED ${CORVANE_ENGINE_SOURCES})
corvane_engine_settings(corvane_shared)
target_compile_definitions(corvane_shared PRIVATE CORVANE_BUILDING_SHARED)
set_target_properties(corvane_shared PROPERTIES
  OUTPUT_NAME corvane
  EXPORT_NAME corvane
  VERSION ${CORVANE_ABI_VERSION}.0.0
  SOVERSION ${CORVANE_ABI_VERSION}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
  # corvane-1.dll, and its import library libcorvane.dll.a beside the static
  # libcorvane.a.
  set_target_properties(corvane_shared PROPERTIES PREFIX "" RUNTIME_OUTPUT_NAME corvane-${CORVANE_ABI_VERSION})
elseif(NOT APPLE)
  # Only corvane_ symbols leave the library; the C++ runtime stays inside.
  target_link_options(corvane_shared PRIVATE "-Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/cmake/corvane.map")
  if(NOT CORVANE_SANITIZE)  # the sanitizers' runtimes want the shared C++ runtime
    target_link_options(corvane_shared PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  set_property(TARGET corvane_shared APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/corvane.map)
endif()

install(TARGETS corvane_shared EXPORT CorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libcorvane NAMELINK_COMPONENT libcorvane-dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libcorvane
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libcorvane-dev)
install(TARGETS corvane_static EXPORT CorvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libcorvane-dev)
install(FILES include/corvane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libcorvane-dev)

# The pkg-config file finds the installed tree relative to itself, so that it
# serves whatever prefix the tree is installed under.
file(RELATIVE_PATH CORVANE_PC_PREFIX_FROM_PCDIR "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" CORVANE_PC_PREFIX_FROM_PCDIR "${CORVANE_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/corvane.pc.in ${CMAKE_CURRENT_BINARY_DIR}/corvane.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/corvane.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libcorvane-dev)

set(corvane_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
install(EXPORT CorvaneTargets NAMESPACE Corvane:: DESTINATION ${corvane_cmake_dir} COMPONENT libcorvane-dev)
configure_package_config_file(cmake/CorvaneConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake
  INSTALL_DESTINATION ${corvane_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
        DESTINATION ${corvane_cmake_dir} COMPONENT libcorvane-dev)
