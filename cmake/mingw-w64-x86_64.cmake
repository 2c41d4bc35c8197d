# Cross build for 64-bit Windows with Debian's mingw-w64 x86-64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELLOMAR_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
