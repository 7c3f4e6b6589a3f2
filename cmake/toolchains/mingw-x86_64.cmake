# 64-bit Windows with the MinGW-w64 POSIX-threads cross compiler; executables run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# A 64-bit Windows prefix of this build's own, under the build folder, made on the first
# start and reused after, never the user's ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEARCH=win64 WINEPREFIX=${CMAKE_BINARY_DIR}/wine
    WINEDEBUG=-all /usr/lib/wine/wine64)
set(PC_OBJDUMP x86_64-w64-mingw32-objdump)
