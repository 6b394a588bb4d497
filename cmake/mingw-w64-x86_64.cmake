# Cross build for 64-bit Windows with Debian's MinGW-w64 (POSIX thread model, so that std::thread
# and std::mutex work). The libraries built for it (libpng, and the stb headers the image code uses)
# live under KESTREL_MINGW_PREFIX, which scripts/build-windows.sh fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTREL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTREL_MINGW_TRIPLET}-windres)

if(NOT KESTREL_MINGW_PREFIX)
    set(KESTREL_MINGW_PREFIX "$ENV{HOME}/.cache/kestrel-mingw/x86_64")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KESTREL_MINGW_TRIPLET} ${KESTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libraries only: the programs must run on a bare Windows, without MinGW's DLLs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine.
find_program(KESTREL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(KESTREL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTREL_WINE})
endif()
