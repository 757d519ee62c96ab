# Cross build for 64-bit Windows with Debian's mingw-w64; its tests run
# under 64-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(mingw_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# wine64 itself rather than Debian's `wine` script: once 32-bit Wine is
# installed beside it, that script starts the 32-bit loader first, which on
# a machine that runs no 32-bit code needs qemu-i386 registered. This suite
# runs without it.
find_program(ASSETTOOLS_WINE NAMES wine64 wine HINTS /usr/lib/wine)
assettools_wine_emulator()
