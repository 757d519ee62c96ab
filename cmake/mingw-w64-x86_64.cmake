# Cross build for 64-bit Windows with Debian's mingw-w64. The Win32 API is
# the same as for 32 bits, and unlike a 32-bit program this one runs under
# the installed Wine, so the tests run through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(mingw_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# A Wine prefix of the build's own, so a run never depends on ~/.wine.
# WINEDLLOVERRIDES keeps the first start from offering to install Mono and
# Gecko, which console programs never use.
find_program(ASSETTOOLS_WINE NAMES wine wine64)
if(ASSETTOOLS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${ASSETTOOLS_WINE})
endif()
