# nlohmann-json (header-only) for the cross build: the build machine's headers, nothing else.
include("${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake")
diskvigil_link_host_header(nlohmann)
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${DISKVIGIL_HOST_HEADERS}")
endif()
set(nlohmann_json_FOUND TRUE)
