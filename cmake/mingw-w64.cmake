# What the MinGW-w64 toolchain files share; each sets MINGW_TRIPLET,
# CMAKE_SYSTEM_PROCESSOR and WINE_NAMES, then includes this.
# The POSIX thread model, because GoogleTest needs std::condition_variable,
# which the win32 model lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Standalone: the C++ runtime, libgcc and winpthread linked in, so that the
# program needs nothing but the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Tests run the programs under Wine, in a prefix of the build tree's own,
# without Wine's debugging chatter on standard error.
find_program(WINE_PROGRAM NAMES ${WINE_NAMES} PATHS /usr/lib/wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine ${WINE_PROGRAM})
endif()
