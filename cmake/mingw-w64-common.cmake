# Cross-build for Windows with Debian's MinGW-w64 (posix threads). The including
# toolchain file sets ZBSNMP_MINGW_ARCH (x86_64 or i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZBSNMP_MINGW_ARCH})
set(ZBSNMP_MINGW_TRIPLE ${ZBSNMP_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${ZBSNMP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZBSNMP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZBSNMP_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZBSNMP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# zlib linked in, not zlib1.dll beside the library
set(ZLIB_USE_STATIC_LIBS ON)
# A statically linked runtime: the DLL and the programs need no MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
