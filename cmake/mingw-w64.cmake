# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which the standard
# library's threads and GoogleTest need). Used by the `windows` preset:
#   cmake --preset windows && cmake --build build/windows
# Only the command line, the drive core, the settings layer and mail are built; there is no
# MinGW Qt here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DISKVIGIL_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${DISKVIGIL_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DISKVIGIL_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DISKVIGIL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DISKVIGIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The header-only libraries come from the build machine's /usr/include, which must never be on
# the cross compiler's include path as a whole (glibc's headers live there too): the package
# files in cmake/windows hand out just those folders.
set(nlohmann_json_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "" FORCE)
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "" FORCE)

# Self-contained executables: no libstdc++/libgcc/libwinpthread DLLs to find at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
