# A folder in the build tree holding links to single header-only libraries of the build machine,
# so the cross compiler sees those and nothing else of /usr/include.
set(DISKVIGIL_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
function(diskvigil_link_host_header name)
  if(NOT EXISTS "${DISKVIGIL_HOST_HEADERS}/${name}")
    file(MAKE_DIRECTORY "${DISKVIGIL_HOST_HEADERS}")
    file(CREATE_LINK "/usr/include/${name}" "${DISKVIGIL_HOST_HEADERS}/${name}" SYMBOLIC)
  endif()
endfunction()
