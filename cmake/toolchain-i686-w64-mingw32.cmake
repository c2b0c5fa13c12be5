# Cross-builds the 32-bit Windows console program with Debian's MinGW-w64:
#   cmake -S . -B build-win32 --toolchain cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
