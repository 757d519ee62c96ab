# Cross build for 32-bit Windows with Debian's mingw-w64: the programs that
# ship. The -posix compilers carry the thread support that GoogleTest needs
# (std::mutex). Its tests run under 32-bit Wine, which on a machine that runs
# no 32-bit code itself goes through qemu-i386 (scripts/setup-wine32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(mingw_triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

if(EXISTS /usr/lib/wine/wine64)
  # Debian's layout: the 32-bit loader (package wine32:i386) sits beside
  # wine64, and /usr/bin/wine is a script that falls back to wine64, which
  # runs no 32-bit program.
  find_program(ASSETTOOLS_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
else()
  find_program(ASSETTOOLS_WINE NAMES wine)
endif()
assettools_wine_emulator()
