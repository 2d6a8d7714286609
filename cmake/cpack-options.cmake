# Read by cpack before it makes each package; the build sets ROWTALLY_EPOCH
# and ROWTALLY_PROGRAM.

# File times in the archives, so that every build of a commit packs the same.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${ROWTALLY_EPOCH})
endif()

# The C library that the program needs, by the newest glibc symbol version it
# uses. dpkg-shlibdeps cannot tell this for a cross build, whose C library is
# not installed as a package of its architecture.
if(CPACK_GENERATOR STREQUAL "DEB")
  execute_process(COMMAND readelf --dynamic --version-info --wide ${ROWTALLY_PROGRAM}
                  OUTPUT_VARIABLE elf COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${elf}")
  if(NOT needed STREQUAL "Shared library: [libc.so.6]")
    message(FATAL_ERROR "rowtally needs ${needed}: name the packages in Depends")
  endif()
  string(REGEX MATCHALL "GLIBC_[0-9.]+" versions "${elf}")
  set(newest 0)
  foreach(version IN LISTS versions)
    string(REPLACE "GLIBC_" "" version ${version})
    if(version VERSION_GREATER newest)
      set(newest ${version})
    endif()
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
endif()
