# `cmake --build build/windows-gui --target windows-installer` writes
# packaging/windows/diskvigil-<version>-setup.exe in the build folder with NSIS (Debian: nsis).
# The programs go in stripped; the installer is about a third of their size.
find_program(DISKVIGIL_MAKENSIS makensis)
if(NOT DISKVIGIL_MAKENSIS)
  message(STATUS "makensis not found: no windows-installer target (Debian package nsis)")
  return()
endif()
# The single-instance mutex's name has its home in the program's source.
file(STRINGS "${PROJECT_SOURCE_DIR}/app/SingleInstance.h" instance_line
  REGEX "kSingleInstanceName = \"[^\"]+\"")
string(REGEX REPLACE ".*= \"([^\"]+)\".*" "\\1" instance_mutex "${instance_line}")
set(installer_dir "${PROJECT_BINARY_DIR}/packaging/windows")
set(installer_stage "${installer_dir}/stage")
set(installer "${installer_dir}/diskvigil-${PROJECT_VERSION}-setup.exe")
add_custom_command(OUTPUT "${installer}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${installer_stage}"
  COMMAND "${CMAKE_STRIP}" -o "${installer_stage}/diskvigil.exe" "$<TARGET_FILE:diskvigil>"
  COMMAND "${CMAKE_STRIP}" -o "${installer_stage}/diskvigil-cli.exe" "$<TARGET_FILE:diskvigil-cli>"
  COMMAND "${DISKVIGIL_MAKENSIS}" -V2 -NOCD "-DVERSION=${PROJECT_VERSION}"
    "-DSTAGE=${installer_stage}" "-DRUNTIME=$<TARGET_FILE_DIR:diskvigil>"
    "-DDATA=${PROJECT_SOURCE_DIR}/data" "-DOUTFILE=${installer}"
    "-DINSTANCE_MUTEX=${instance_mutex}"
    "${CMAKE_CURRENT_LIST_DIR}/diskvigil.nsi"
  DEPENDS diskvigil diskvigil-cli "${CMAKE_CURRENT_LIST_DIR}/diskvigil.nsi"
    "${PROJECT_SOURCE_DIR}/app/SingleInstance.h"
  WORKING_DIRECTORY "${installer_dir}"
  COMMENT "Making the Windows installer"
  VERBATIM)
add_custom_target(windows-installer DEPENDS "${installer}")
