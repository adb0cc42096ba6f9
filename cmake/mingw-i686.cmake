# Cross build of the 32-bit Windows product with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KV_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Every x86 Windows that runs our DLLs has SSE2 (Windows 8 and later require
# it): floating point in SSE registers, rounded as the 64-bit build rounds,
# instead of the x87 stack. Windows only promises a 4-byte aligned stack to a
# 32-bit callee, and COM clients call us from code of any compiler: functions
# that keep SSE values on the stack realign it themselves.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
