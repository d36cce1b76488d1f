# The main window's threads under ThreadSanitizer: the window library compiled once more with the
# sanitizer (core, mail and Qt stay as built), and a small program that runs the sound worker, the
# mail workers and suspend and resume from another thread against it. GCC or Clang on Linux only,
# and not inside a build that is sanitized as a whole already.
if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" OR DISKVIGIL_SANITIZE
   OR NOT TARGET diskvigil_gui)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Widgets DBus Test)
find_package(PkgConfig REQUIRED)
pkg_check_modules(WINDOW_THREADS_PULSE IMPORTED_TARGET libpulse-simple)

# The window library's own sources; the generated sound header comes from its build folder.
get_target_property(window_sources diskvigil_gui SOURCES)
list(FILTER window_sources EXCLUDE REGEX "/generated/")
get_target_property(window_definitions diskvigil_gui COMPILE_DEFINITIONS)
get_target_property(window_build_dir diskvigil_gui BINARY_DIR)
add_library(diskvigil_gui_tsan STATIC EXCLUDE_FROM_ALL ${window_sources})
# In batches where the window library is, whose files are fit for it.
set_target_properties(diskvigil_gui_tsan PROPERTIES AUTOMOC ON AUTORCC ON
  UNITY_BUILD "${DISKVIGIL_UNITY_BUILD}")
add_dependencies(diskvigil_gui_tsan diskvigil_gui)  # for the generated header
# Line tables only: the sanitizer's reports still give file and line.
target_compile_options(diskvigil_gui_tsan PUBLIC -fsanitize=thread -fno-omit-frame-pointer -O1 -g1)
target_link_options(diskvigil_gui_tsan PUBLIC -fsanitize=thread)
target_compile_definitions(diskvigil_gui_tsan PRIVATE ${window_definitions})
target_include_directories(diskvigil_gui_tsan PUBLIC "${PROJECT_SOURCE_DIR}" "${window_build_dir}")
target_link_libraries(diskvigil_gui_tsan PUBLIC diskvigil_core diskvigil_mail diskvigil_settings
  Qt6::Widgets Qt6::DBus PRIVATE diskvigil_warnings)
if(TARGET diskvigil_tray)
  target_link_libraries(diskvigil_gui_tsan PUBLIC diskvigil_tray)
endif()
if(TARGET diskvigil_history)
  target_link_libraries(diskvigil_gui_tsan PUBLIC diskvigil_history)
endif()
if(TARGET PkgConfig::WINDOW_THREADS_PULSE)
  target_link_libraries(diskvigil_gui_tsan PUBLIC PkgConfig::WINDOW_THREADS_PULSE)
endif()

add_executable(WindowThreads_thread "${CMAKE_CURRENT_SOURCE_DIR}/app/WindowThreads.cpp")
set_target_properties(WindowThreads_thread PROPERTIES AUTOMOC ON)
target_link_libraries(WindowThreads_thread PRIVATE diskvigil_gui_tsan Qt6::Test diskvigil_warnings)
target_include_directories(WindowThreads_thread PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
target_compile_definitions(WindowThreads_thread PRIVATE
  DISKVIGIL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_test(NAME app.WindowThreads_thread COMMAND WindowThreads_thread)
# COST: about 11 s, so that it starts among the first.
set_tests_properties(app.WindowThreads_thread PROPERTIES LABELS "app" TIMEOUT 300 COST 11
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0")
