# Tests of the Windows build, cross-compiled with MinGW-w64 and run under
# Wine (the toolchain file makes Wine the cross-compiling emulator).

# There is no GoogleTest package for the target, so GoogleTest is built from
# the sources Debian's googletest package ships (it names them GTest::gtest
# and GTest::gtest_main, as the package does).
set(CORVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built with the cross compiler")
if(NOT EXISTS ${CORVANE_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${CORVANE_GTEST_SOURCE} (Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${CORVANE_GTEST_SOURCE} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(NOT CORVANE_WINE_RUN)
  message(WARNING "Wine not found: the Windows tests are built but cannot run here")
endif()

# The end-to-end tests are the host's: the e2e_tests program of a Linux build
# drives corvane.exe under Wine. CORVANE_HOST_BUILD names that build.
set(CORVANE_HOST_BUILD "${CMAKE_SOURCE_DIR}/build/default" CACHE PATH
    "Linux build whose e2e_tests run corvane.exe under Wine")

# Tests that cannot run under Wine skip themselves there (GTEST_SKIP, with
# the reason), so a renamed test keeps its skip.
function(corvane_add_wine_e2e_tests)
  set(host_tests ${CORVANE_HOST_BUILD}/tests/e2e_tests)
  # The slowest suite on its own, so that the two halves run side by side.
  set(slow "DamagedFiles.*")
  foreach(part IN ITEMS main damaged_files)
    if(part STREQUAL "main")
      set(filter "*-${slow}")
    else()
      set(filter "${slow}")
    endif()
    add_test(NAME e2e_under_wine_${part}
             COMMAND ${CMAKE_COMMAND} -E env
               CORVANE_UNDER_TEST=$<TARGET_FILE:corvane>
               CORVANE_RUNNER=${CMAKE_SOURCE_DIR}/tools/wine-run
               CORVANE_WINE=${CORVANE_WINE}
               CORVANE_WINESERVER=${CORVANE_WINESERVER}
               CORVANE_HOST_BUILD=${CORVANE_HOST_BUILD}
               CORVANE_TARGET_BUILD=${CMAKE_BINARY_DIR}
               WINEPREFIX=${CORVANE_WINEPREFIX}
               WINEDEBUG=-all
               ${host_tests} --gtest_filter=${filter})
    set_tests_properties(e2e_under_wine_${part} PROPERTIES TIMEOUT 600 REQUIRED_FILES ${host_tests})
  endforeach()
endfunction()

# The console's code page needs a console, which Wine makes only for a
# program started on a terminal: `script` gives the platform tests one.
function(corvane_add_console_test)
  find_program(CORVANE_SCRIPT script)
  if(NOT CORVANE_SCRIPT OR NOT CORVANE_WINE_RUN)
    return()
  endif()
  string(JOIN " " run ${CORVANE_WINE_RUN})
  add_test(NAME platform_console_on_a_terminal
           COMMAND ${CMAKE_COMMAND} -E env CORVANE_CONSOLE_REQUIRED=1
             ${CORVANE_SCRIPT} -qec "${run} $<TARGET_FILE:platform_tests> --gtest_filter=PlatformConsole.*" /dev/null)
  set_tests_properties(platform_console_on_a_terminal PROPERTIES TIMEOUT 120)
endfunction()

# The programs we ship need no DLL beside them that Windows lacks.
function(corvane_add_imports_test target)
  find_program(CORVANE_OBJDUMP NAMES ${CORVANE_MINGW_TRIPLET}-objdump REQUIRED)
  add_test(NAME ${target}_imports_only_system_dlls
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CORVANE_OBJDUMP} -DPROGRAM=$<TARGET_FILE:${target}>
             -DALLOWED=kernel32.dll,msvcrt.dll,bcrypt.dll,advapi32.dll
             -P ${CMAKE_CURRENT_SOURCE_DIR}/windows-imports.cmake)
endfunction()
