# diskvigil_host_tool(VAR NAME SOURCE): a one-file program that runs during the build, and VAR set
# to what a custom command names to run it. In a cross build it must run on the build machine, so
# that machine's own compiler makes it, outside the cross build.
function(diskvigil_host_tool var name source)
  if(CMAKE_CROSSCOMPILING)
    find_program(DISKVIGIL_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
    set(tool "${CMAKE_CURRENT_BINARY_DIR}/${name}-host")
    add_custom_command(OUTPUT "${tool}"
      COMMAND "${DISKVIGIL_HOST_CXX}" -std=c++20 -O2 -o "${tool}" "${source}"
      DEPENDS "${source}"
      COMMENT "Building ${name} for the build machine"
      VERBATIM)
  else()
    add_executable(${name} "${source}")
    target_link_libraries(${name} PRIVATE diskvigil_warnings)
    set(tool ${name})
  endif()
  set(${var} "${tool}" PARENT_SCOPE)
endfunction()
