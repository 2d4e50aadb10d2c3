# Cross-compiling kiln.exe for 64-bit Windows with the mingw-w64 compiler (POSIX thread model).
# The runtime (libgcc, libstdc++, winpthread) is linked statically so kiln.exe needs no DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KILN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KILN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KILN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KILN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KILN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
