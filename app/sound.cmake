# The alert sound: a host tool computes the samples at build time into a header that the library
# embeds, so no sound file lives in the repository.
set(DISKVIGIL_SIREN_HEADER "${CMAKE_CURRENT_BINARY_DIR}/generated/SirenSamples.h")
include("${CMAKE_CURRENT_LIST_DIR}/HostTool.cmake")
diskvigil_host_tool(DISKVIGIL_SIREN_TOOL diskvigil_make_siren
  "${CMAKE_CURRENT_SOURCE_DIR}/tools/MakeSiren.cpp")
add_custom_command(OUTPUT "${DISKVIGIL_SIREN_HEADER}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/generated"
  COMMAND "${DISKVIGIL_SIREN_TOOL}" "${DISKVIGIL_SIREN_HEADER}"
  DEPENDS "${DISKVIGIL_SIREN_TOOL}"
  COMMENT "Generating the alert sound"
  VERBATIM)
set_source_files_properties("${DISKVIGIL_SIREN_HEADER}" PROPERTIES SKIP_AUTOMOC ON SKIP_AUTOUIC ON)
target_sources(diskvigil_gui PRIVATE "${DISKVIGIL_SIREN_HEADER}")

# Windows plays from memory; elsewhere PulseAudio's simple API when present (a few hundred KB, on
# every desktop, PipeWire's Pulse server included); silence otherwise.
if(WIN32)
  target_sources(diskvigil_gui PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/sound/WindowsAlertSound.cpp")
  target_link_libraries(diskvigil_gui PRIVATE winmm)
elseif(TARGET PkgConfig::PULSE_SIMPLE)
  target_sources(diskvigil_gui PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/sound/PulseAlertSound.cpp")
else()
  target_sources(diskvigil_gui PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/sound/SilentAlertSound.cpp")
endif()
