# What the toolchain files for Debian's Linux cross compilers share; each sets
# CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR, QEMU_NAME and DEBIAN_ARCH, then
# includes this.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the programs under qemu-user, with the cross compiler's own C
# library; it needs nothing of the kernel's 32-bit support.
find_program(QEMU_PROGRAM NAMES ${QEMU_NAME})
if(QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_PROGRAM} -L /usr/${CROSS_TRIPLET})
endif()
