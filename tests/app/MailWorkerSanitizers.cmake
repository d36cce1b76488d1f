# The mail worker outliving its window, under ThreadSanitizer and under AddressSanitizer: small
# programs built from the worker's own sources with the sanitizer (Qt itself stays as installed),
# run by CTest like the other window tests. GCC or Clang on Linux only, and not inside a build that
# is sanitized as a whole already.
if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" OR DISKVIGIL_SANITIZE)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Widgets)
foreach(sanitizer thread address)
  set(name MailWorkerLifetime_${sanitizer})
  add_executable(${name} "${CMAKE_CURRENT_SOURCE_DIR}/app/MailWorkerLifetime.cpp"
    "${PROJECT_SOURCE_DIR}/app/SendRepUnit.cpp" "${PROJECT_SOURCE_DIR}/app/MailLock.cpp")
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  # Line tables only: the sanitizers' reports still give file and line.
  target_compile_options(${name} PRIVATE -fsanitize=${sanitizer} -fno-omit-frame-pointer -O1 -g1)
  target_link_options(${name} PRIVATE -fsanitize=${sanitizer})
  target_link_libraries(${name} PRIVATE diskvigil_mail Qt6::Widgets diskvigil_warnings)
  target_include_directories(${name} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}")
  add_test(NAME app.${name} COMMAND ${name})
  set_tests_properties(app.${name} PROPERTIES LABELS "app" ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1;ASAN_OPTIONS=halt_on_error=1")
endforeach()
