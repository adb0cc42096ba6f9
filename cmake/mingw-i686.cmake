# Cross build of the 32-bit Windows product with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KV_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
