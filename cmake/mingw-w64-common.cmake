# What both mingw-w64 toolchain files share; they set mingw_triplet first.
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so the .exe files run on a bare Windows without the
# compiler's runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Runs the build's programs (tests, custom commands) under the Wine loader
# that the toolchain file found as ASSETTOOLS_WINE, in a Wine prefix of the
# build's own, so a run never depends on ~/.wine. WINEDLLOVERRIDES keeps the
# first start from offering to install Mono and Gecko, which console programs
# never use. Without a loader the tests are built but not registered.
macro(assettools_wine_emulator)
  if(ASSETTOOLS_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
        WINEDLLOVERRIDES=mscoree,mshtml= ${ASSETTOOLS_WINE})
  endif()
endmacro()
