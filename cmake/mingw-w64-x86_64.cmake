# Cross build for 64-bit Windows with Debian's MinGW-w64 (packages g++-mingw-w64-x86-64 and
# mingw-w64). The -posix compilers: the -win32 ones have no std::thread, std::mutex or
# std::condition_variable. Everything is linked statically, so the programs need no DLL besides
# the system's own (and run under wine as they are).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZVK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZVK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZVK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZVK_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW-w64 tree only, never from the build machine's.
# ZVK_MINGW_EXTRA_ROOT adds one more: a library built for the target elsewhere (the Qt of
# scripts/build-windows-gui).
set(CMAKE_FIND_ROOT_PATH /usr/${ZVK_MINGW_TRIPLE} ${ZVK_MINGW_EXTRA_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
