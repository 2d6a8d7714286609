# Read by cpack before it makes each package; the build sets ROWTALLY_EPOCH
# and ROWTALLY_PROGRAM.

# File times in the archives, so that every build of a commit packs the same.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${ROWTALLY_EPOCH})
endif()

# The libraries that the program needs, each at the newest symbol version it
# uses from it, as dpkg-shlibdeps would say. It cannot say it for a cross
# build, whose libraries are not installed as packages of its architecture.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(package_libc.so.6 libc6)
  set(package_libgcc_s.so.1 libgcc-s1)	# ARM's unwinder helpers
  execute_process(COMMAND readelf --dynamic --version-info --wide ${ROWTALLY_PROGRAM}
                  OUTPUT_VARIABLE elf RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "readelf ${ROWTALLY_PROGRAM}: ${failed}")
  endif()
  string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${elf}")
  set(depends)
  foreach(library IN LISTS needed)
    string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${library}")
    if(NOT DEFINED package_${library})
      message(FATAL_ERROR "rowtally needs ${library}: name its package in ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    # Its versions follow "File: <library>" up to the next "File:".
    string(REGEX MATCH "File: ${library}[^\n]*\n(  0x[^\n]*Name: [^\n]*\n)*" versions "${elf}")
    string(REGEX MATCHALL "Name: [A-Z_]+[0-9.]+" versions "${versions}")
    set(newest 0)
    foreach(version IN LISTS versions)
      string(REGEX REPLACE "Name: [A-Z_]+" "" version ${version})
      if(version VERSION_GREATER newest)
        set(newest ${version})
      endif()
    endforeach()
    list(APPEND depends "${package_${library}} (>= ${newest})")
  endforeach()
  list(JOIN depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
