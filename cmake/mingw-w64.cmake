# Cross-compiles for 64-bit Windows with Debian's mingw-w64, in its posix thread
# model: only that one has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTROM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTROM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROM_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KESTROM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs and the tests run here under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
