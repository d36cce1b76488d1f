# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which the standard
# library's threads and GoogleTest need). Used by the `windows` preset:
#   cmake --preset windows && cmake --build build/windows
# That preset builds the command line, the drive core, the settings layer and mail. The
# `windows-gui` preset adds the window program, built against a Qt for MinGW whose prefix
# DISKVIGIL_MINGW_QT names (scripts/mingw-qt.sh puts one into build/mingw-qt/qt6).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DISKVIGIL_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${DISKVIGIL_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DISKVIGIL_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DISKVIGIL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DISKVIGIL_MINGW_TRIPLE})
if(DISKVIGIL_MINGW_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH "${DISKVIGIL_MINGW_QT}")
  list(APPEND CMAKE_PREFIX_PATH "${DISKVIGIL_MINGW_QT}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The header-only libraries come from the build machine's /usr/include, which must never be on
# the cross compiler's include path as a whole (glibc's headers live there too): the package
# files in cmake/windows hand out just those folders.
set(nlohmann_json_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "" FORCE)
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "" FORCE)

# Self-contained executables: no libstdc++/libgcc/libwinpthread DLLs to find at run time. The Qt
# libraries link those DLLs, so a program built on Qt shares them rather than carry a second copy.
if(NOT DISKVIGIL_MINGW_QT)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()
