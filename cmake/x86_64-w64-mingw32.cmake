# A 64-bit Windows build, from Debian's g++-mingw-w64-x86-64, for running the
# Windows test suite under 64-bit Wine on machines that cannot run 32-bit
# programs. What ships is the 32-bit build.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
