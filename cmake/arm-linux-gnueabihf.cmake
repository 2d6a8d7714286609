# 32-bit ARM boards (Raspberry Pi OS and Debian armhf), from Debian's
# g++-arm-linux-gnueabihf; tests run under qemu-arm-static.
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(QEMU_NAME qemu-arm-static)
set(DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
