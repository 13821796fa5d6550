# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compiler (the
# POSIX-threads variant) and runs the built programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${CORVANE_MINGW_TRIPLET}-gcc-posix ${CORVANE_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CORVANE_MINGW_TRIPLET}-g++-posix ${CORVANE_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CORVANE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here (the unit tests, test discovery) run under Wine through
# tools/wine-run, in a Wine prefix of the build's own.
find_program(CORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(CORVANE_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(CORVANE_WINE AND CORVANE_WINESERVER)
  set(CORVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
  set(CORVANE_WINE_RUN
      ${CMAKE_COMMAND} -E env WINEPREFIX=${CORVANE_WINEPREFIX} WINEDEBUG=-all
      CORVANE_WINE=${CORVANE_WINE} CORVANE_WINESERVER=${CORVANE_WINESERVER}
      ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_WINE_RUN})
endif()
