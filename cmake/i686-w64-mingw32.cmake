# The Windows build: a 32-bit console program, from Debian's g++-mingw-w64-i686.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(WINE_NAMES wine)
# Every x86 processor that runs a Windows of this century has SSE2.
set(CMAKE_CXX_FLAGS_INIT -msse2)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
