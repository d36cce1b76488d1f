# The Qt and MinGW libraries the Windows program needs at run time, copied beside it after every
# link (so it runs from the build folder, under Wine too) and installed with it: Qt's Core, Gui and
# Widgets, the Windows platform plug-in, the native style, and the C++ run-time DLLs that the Qt
# libraries were linked against.
set(DISKVIGIL_QT_BIN "${DISKVIGIL_MINGW_QT}/bin")
set(DISKVIGIL_QT_PLUGINS "${DISKVIGIL_MINGW_QT}/plugins")
set(DISKVIGIL_RUNTIME_DLLS
  "${DISKVIGIL_QT_BIN}/Qt6Core.dll" "${DISKVIGIL_QT_BIN}/Qt6Gui.dll"
  "${DISKVIGIL_QT_BIN}/Qt6Widgets.dll" "${DISKVIGIL_QT_BIN}/libstdc++-6.dll"
  "${DISKVIGIL_QT_BIN}/libgcc_s_seh-1.dll" "${DISKVIGIL_QT_BIN}/libwinpthread-1.dll")
set(DISKVIGIL_PLATFORM_PLUGIN "${DISKVIGIL_QT_PLUGINS}/platforms/qwindows.dll")
set(DISKVIGIL_STYLE_PLUGIN "${DISKVIGIL_QT_PLUGINS}/styles/qwindowsvistastyle.dll")
foreach(file ${DISKVIGIL_RUNTIME_DLLS} ${DISKVIGIL_PLATFORM_PLUGIN} ${DISKVIGIL_STYLE_PLUGIN})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "The Qt for MinGW in ${DISKVIGIL_MINGW_QT} lacks ${file}")
  endif()
endforeach()

add_custom_command(TARGET diskvigil POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DISKVIGIL_RUNTIME_DLLS}
    "$<TARGET_FILE_DIR:diskvigil>"
  COMMAND ${CMAKE_COMMAND} -E make_directory "$<TARGET_FILE_DIR:diskvigil>/platforms"
    "$<TARGET_FILE_DIR:diskvigil>/styles"
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${DISKVIGIL_PLATFORM_PLUGIN}"
    "$<TARGET_FILE_DIR:diskvigil>/platforms"
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${DISKVIGIL_STYLE_PLUGIN}"
    "$<TARGET_FILE_DIR:diskvigil>/styles"
  VERBATIM)
# diskvigil-cli shares the C++ run-time DLLs in this build, as it does once installed.
file(COPY "${DISKVIGIL_QT_BIN}/libstdc++-6.dll" "${DISKVIGIL_QT_BIN}/libgcc_s_seh-1.dll"
  "${DISKVIGIL_QT_BIN}/libwinpthread-1.dll" DESTINATION "${PROJECT_BINARY_DIR}/cli")
# The program's icon for Explorer, the Start menu and the installer: the rendered sizes in one
# icon file, linked in as the first icon resource.
enable_language(RC)
include("${CMAKE_CURRENT_LIST_DIR}/HostTool.cmake")
diskvigil_host_tool(DISKVIGIL_ICON_TOOL diskvigil_make_icon
  "${CMAKE_CURRENT_SOURCE_DIR}/tools/MakeIcon.cpp")
set(DISKVIGIL_ICO "${CMAKE_CURRENT_BINARY_DIR}/generated/diskvigil.ico")
add_custom_command(OUTPUT "${DISKVIGIL_ICO}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/generated"
  COMMAND "${DISKVIGIL_ICON_TOOL}" "${DISKVIGIL_ICO}" ${DISKVIGIL_ICON_FILES}
  DEPENDS "${DISKVIGIL_ICON_TOOL}" ${DISKVIGIL_ICON_FILES}
  COMMENT "Making the program's icon file"
  VERBATIM)
set(DISKVIGIL_RC "${CMAKE_CURRENT_BINARY_DIR}/generated/diskvigil.rc")
file(WRITE "${DISKVIGIL_RC}" "1 ICON \"${DISKVIGIL_ICO}\"\n")
set_source_files_properties("${DISKVIGIL_RC}" PROPERTIES OBJECT_DEPENDS "${DISKVIGIL_ICO}")
target_sources(diskvigil PRIVATE "${DISKVIGIL_RC}")
# A window program: no console opens when it is started from Explorer or the Start menu.
set_target_properties(diskvigil PROPERTIES WIN32_EXECUTABLE ON)
include("${PROJECT_SOURCE_DIR}/packaging/windows/Installer.cmake")
