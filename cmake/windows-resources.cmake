# The resources every Windows program of ours carries: a manifest that runs
# it as its user with UTF-8 as its ANSI code page, and a version resource.
enable_language(RC)

function(corvane_add_windows_resources target description)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(NAME ${name})
  set(DESCRIPTION "${description}")
  set(WINDOWS_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
  set(MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${name}.exe.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/windows/program.manifest.in ${MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/windows/program.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
endfunction()
