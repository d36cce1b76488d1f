#!/usr/bin/env bash
# The Windows back ends build only on Windows; here each one is at least compiled (syntax and
# types, warnings as errors) with the MinGW-w64 cross compiler against the Windows headers, so a
# slip in them shows up on every run. Usage: windows-compile-check.sh SOURCE_DIR GENERATED_DIR
set -uo pipefail
src=$1
generated=$2
cxx=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++ || true)
if [ -z "$cxx" ]; then
  echo "=================================================================="
  echo "SKIPPED: no MinGW-w64 compiler (g++-mingw-w64-x86-64-posix); the"
  echo "Windows back ends were not compiled."
  echo "=================================================================="
  exit 77
fi

qt=/usr/include/x86_64-linux-gnu/qt6
# Qt's Linux headers stand in for the Windows ones; they only warn about dllimport.
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -Wno-attributes
       -I"$src" -I"$generated" -I"$qt" -I"$qt/QtCore" -I"$qt/QtGui" -I"$qt/QtWidgets")
failed=0
count=0
while IFS= read -r file; do
  count=$((count + 1))
  if "$cxx" "${flags[@]}" "$file"; then
    echo "ok      ${file#"$src"/}"
  else
    echo "FAILED  ${file#"$src"/}"
    failed=$((failed + 1))
  fi
done < <(find "$src/core" "$src/app" "$src/tray" "$src/mail" -name 'Windows*.cpp' | sort)
echo "$count Windows files compiled, $failed failed"
[ "$count" -gt 0 ] && [ "$failed" -eq 0 ]
