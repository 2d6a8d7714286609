# 32-bit PCs, from Debian's g++-i686-linux-gnu; tests run under qemu-i386-static.
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
set(CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QEMU_NAME qemu-i386-static)
set(DEBIAN_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
