# 64-bit ARM boards, from Debian's g++-aarch64-linux-gnu; tests run under
# qemu-aarch64-static.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QEMU_NAME qemu-aarch64-static)
set(DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
