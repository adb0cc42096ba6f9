# What both mingw-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR
# and KV_MINGW (the target triplet) first. The posix thread flavour gives
# std::thread/std::mutex; -static keeps winpthread inside.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${KV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER  ${KV_MINGW}-windres)
set(KV_WIDL            ${KV_MINGW}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine: cmake/Testing.cmake sets the emulator.
