# 32-bit Windows with the MinGW-w64 POSIX-threads cross compiler (the original target);
# executables run under 32-bit wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Executables run under 32-bit wine in a 32-bit Windows of this build's own (a prefix under
# the build folder, made on the first start and reused after), never in the user's ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEARCH=win32 WINEPREFIX=${CMAKE_BINARY_DIR}/wine
    WINEDEBUG=-all /usr/lib/wine/wine)
set(PC_OBJDUMP i686-w64-mingw32-objdump)
