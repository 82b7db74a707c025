# 32-bit Windows, the library's original target (compiled and linked only).
set(ZBSNMP_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
