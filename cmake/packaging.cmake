# How rowtally is installed and packed: the Debian layout and the Windows
# papers, the dates that go into them, and CPack. Included by the top
# CMakeLists.txt once the rowtally target exists.

# Two builds of one commit give the same files to the bit: the dates that go
# into them are the last commit's, or SOURCE_DATE_EPOCH where the caller sets it.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ROWTALLY_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE ROWTALLY_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT ROWTALLY_EPOCH MATCHES "^[0-9]+$")	# not a git checkout
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt ROWTALLY_EPOCH %s UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${ROWTALLY_EPOCH})	# string(TIMESTAMP) reads it
endif()
string(TIMESTAMP ROWTALLY_DATE %Y-%m-%d UTC)

file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE ROWTALLY_COPYRIGHT REGEX "^Copyright" LIMIT_COUNT 1)
file(STRINGS ${PROJECT_SOURCE_DIR}/doc/changelog newest_change LIMIT_COUNT 1)
if(NOT newest_change MATCHES "^rowtally \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "doc/changelog has no entry for ${PROJECT_VERSION} at its top")
endif()

include(GNUInstallDirs)
if(WIN32)
  enable_language(RC)
  configure_file(${PROJECT_SOURCE_DIR}/src/rowtally.manifest.in rowtally.manifest @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/src/rowtally.rc.in rowtally.rc @ONLY)
  target_sources(rowtally PRIVATE ${PROJECT_BINARY_DIR}/rowtally.rc)
  set_source_files_properties(${PROJECT_BINARY_DIR}/rowtally.rc
    PROPERTIES OBJECT_DEPENDS ${PROJECT_BINARY_DIR}/rowtally.manifest)
  # The linker would stamp the time of the build into the program.
  target_link_options(rowtally PRIVATE -Wl,--no-insert-timestamp)

  # A Windows program ships as one folder: the program and its papers, with
  # the line ends that every Notepad shows.
  foreach(paper README.md LICENSE)
    file(READ ${PROJECT_SOURCE_DIR}/${paper} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    get_filename_component(name ${paper} NAME_WE)
    file(WRITE ${PROJECT_BINARY_DIR}/${name}.txt "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/${name}.txt DESTINATION .)
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
  install(TARGETS rowtally RUNTIME DESTINATION .)
else()
  # Debian's layout: a compressed manual page and changelog, the licence as
  # a machine-readable copyright file. gzip -n leaves out names and times.
  configure_file(${PROJECT_SOURCE_DIR}/doc/rowtally.1.in rowtally.1 @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/doc/changelog changelog COPYONLY)
  string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" ROWTALLY_COPYRIGHT_HOLDERS "${ROWTALLY_COPYRIGHT}")
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)	# its text after the copyright line, as a field's lines
  string(REGEX REPLACE "^.*Copyright[^\n]*\n" "" licence "${licence}")
  string(STRIP "${licence}" licence)
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " ROWTALLY_LICENSE_TEXT " ${licence}")
  configure_file(${PROJECT_SOURCE_DIR}/doc/copyright.in copyright @ONLY)
  foreach(doc rowtally.1 changelog)
    execute_process(COMMAND gzip -9n -c ${doc} WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
                    OUTPUT_FILE ${PROJECT_BINARY_DIR}/${doc}.gz RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip ${doc}: ${failed}")
    endif()
  endforeach()
  # Debian's usual hardening: the whole GOT read-only once the program runs.
  target_link_options(rowtally PRIVATE -Wl,-z,relro,-z,now)
  install(TARGETS rowtally)
  install(FILES ${PROJECT_BINARY_DIR}/rowtally.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/changelog.gz ${PROJECT_BINARY_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # lintian warns of a static program, and takes a static PIE, which has no
  # interpreter, for a shared library; each override gives its reason.
  if(ROWTALLY_STATIC)
    set(overrides "# Static on purpose: one program that runs on any Linux of its processor,
# whatever its C library, so that the package installs on old systems too.
")
    if(ROWTALLY_HAVE_STATIC_PIE)
      string(APPEND overrides "# A static PIE, whose addresses are randomised, not a shared library.
rowtally: shared-library-lacks-prerequisites
")
    else()
      string(APPEND overrides "rowtally: statically-linked-binary\n")
    endif()
    file(WRITE ${PROJECT_BINARY_DIR}/lintian-overrides "${overrides}")
    install(FILES ${PROJECT_BINARY_DIR}/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME rowtally)
  endif()
endif()

set(ROWTALLY_MAINTAINER "The rowtally developers <rowtally@example.org>"
    CACHE STRING "Who answers for the Debian packages")
set(CPACK_PACKAGE_VENDOR "The rowtally developers")
set(CPACK_PACKAGE_CONTACT ${ROWTALLY_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION "rowtally reads a binary image, such as a ROM, a flash dump or a typed-in
listing, and prints a one-byte checksum of every 8-byte row of it, one
line per 128-byte block. Comparing the values with published or recorded
row checksums finds the row that was typed, copied or burned wrong.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# cpack runs later, in a process of its own: it gets the same date.
file(GENERATE OUTPUT cpack-options.cmake CONTENT
     "set(ROWTALLY_EPOCH ${ROWTALLY_EPOCH})
set(ROWTALLY_PROGRAM \"$<TARGET_FILE:rowtally>\")
include(${PROJECT_SOURCE_DIR}/cmake/cpack-options.cmake)
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-options.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  if(DEFINED DEBIAN_ARCH)	# set by the cross toolchain files
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DEBIAN_ARCH})
  endif()
endif()
include(CPack)
