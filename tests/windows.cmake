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

# Left out under Wine, each for a reason of its own; where Windows does the
# same thing differently, a test in tests/e2e/windows_test.cpp checks the
# Windows value instead (named after the arrow).
set(CORVANE_WINE_E2E_EXCLUDED
  # The sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it.
  Sealer.*
  # /dev/full and /dev/null -> NulIsTheDeviceOnlyOnWindows
  WriteFailures.DeviceOutputIsWrittenDirectlyAndNeverRemoved
  # POSIX permission bits -> AReadOnlyOutputStaysReadOnly
  WriteFailures.ReplacedFileKeepsItsPermissions
  # Windows cannot open a folder as a file -> FoldersAreRefusedAtTheOpen
  ReadFailures.ADirectoryIsNoFile
  ReadFailures.FoldersTypedAtThePrompts
  # "dé" in the ANSI code page -> NarrowNamesAreInTheAnsiCodePage
  Recorder.SealedFileIsUnsealedReleasedExtractedThenRemoved
  # A library loaded to the end -> ALibraryLoadedToTheEndIsDetachedOnlyOnWindows
  Recorder.ExtractedFileIsRemovedOnlyAfterSuccess
  # Windows file-name rules -> NamesWindowsCannotHoldAreNotOpened
  OddNames.BlanksDashesAndForeignBytesWork
  OddNames.LongNamesUpToTheLimitWork
  # RLIMIT_AS would bound Wine itself, which reserves far more address space.
  ResourceLimits.*
  ResourceBounds.ARunFitsInItsTwoBuffers
  # A FIFO in the file system is POSIX only.
  ChangingSource.APipeThatYieldsOtherBytesTheSecondTime
  # Starts the program with execv itself rather than ProgramCommand().
  Concurrency.TwoCompressionsStartedAtOnceInOneFolder)
list(JOIN CORVANE_WINE_E2E_EXCLUDED ":" excluded)

function(corvane_add_wine_e2e_tests)
  set(host_tests ${CORVANE_HOST_BUILD}/tests/e2e_tests)
  # The slowest suite on its own, so that the two halves run side by side.
  set(slow "DamagedFiles.*")
  foreach(part IN ITEMS main damaged_files)
    if(part STREQUAL "main")
      set(filter "*-${slow}:${excluded}")
    else()
      set(filter "${slow}-${excluded}")
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
