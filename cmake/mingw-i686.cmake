# Cross-compiles for 32-bit Windows with mingw-w64.
set(TYPROVA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Windows-side tests run under 32-bit Wine on the build machine (scripts/install-deps.sh
# --win32 makes 32-bit programs runnable there).
set(CMAKE_CROSSCOMPILING_EMULATOR
  env TYPROVA_WINE=/usr/lib/wine/wine ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec.sh)
