# Cross-compiles for 32-bit Windows with mingw-w64.
# Built here but not run: this machine cannot run 32-bit programs.
set(TYPROVA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
