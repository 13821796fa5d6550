# cmake -DOBJDUMP=... -DPROGRAM=... -DALLOWED=a.dll,b.dll -P windows-imports.cmake
cmake_policy(SET CMP0057 NEW)
# Fails unless every DLL the program imports is one of the allowed system
# DLLs: the compiler's runtime (libgcc, libstdc++, winpthread) is linked in.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
string(REPLACE "," ";" ALLOWED "${ALLOWED}")
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST ALLOWED)
    message(FATAL_ERROR "${PROGRAM} imports ${name}")
  endif()
  message(STATUS "imports ${name}")
endforeach()
