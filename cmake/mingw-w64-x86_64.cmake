# 64-bit Windows; the tests run under wine64.
set(ZBSNMP_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
