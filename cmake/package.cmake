# Installing and packaging: `cmake --install build` puts the tool, its man page
# and its documentation under CMAKE_INSTALL_PREFIX; `cpack -G DEB` (or the
# `package` target) turns the same install into a Debian package.
include(GNUInstallDirs)

set(DATTOOL_MAINTAINER "dattool developers <dattool@example.org>"
    CACHE STRING "Name and address written into the package's Maintainer field")

# The man page takes its version from project(); the date is that of the
# page's last revision and changes by hand with its text.
set(DATTOOL_MAN_DATE "2026-12-07")
set(dattool_man ${CMAKE_CURRENT_BINARY_DIR}/man/dattool.1)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/man/dattool.1.in ${dattool_man} @ONLY)

# The hardening Debian builds its own tools with: checked libc calls and a
# read-only relocation table. Not under the sanitizers, which do their own
# checking, and not in unoptimised builds, where fortified calls do not work.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT DATTOOL_SANITIZE)
  set(optimised $<NOT:$<CONFIG:Debug>>)
  foreach(target datobjects datcore dattool)
    target_compile_options(${target} PRIVATE
      $<${optimised}:-U_FORTIFY_SOURCE> $<${optimised}:-D_FORTIFY_SOURCE=2>)
  endforeach()
  target_link_options(dattool PRIVATE LINKER:-z,relro LINKER:-z,now)
endif()

# The changelog's newest entry names the version being packaged; a version
# bump without an entry would ship a changelog that lies about the package.
file(STRINGS packaging/changelog dattool_changelog_top LIMIT_COUNT 1)
if(NOT dattool_changelog_top MATCHES "^dattool \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog must begin with an entry for dattool ${PROJECT_VERSION}, "
                      "not: ${dattool_changelog_top}")
endif()

install(TARGETS dattool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Debian keeps man pages and changelogs gzipped with -9n (no name, no time
# stamp, so the package builds identically every time); plain copies where
# gzip is missing, as on Windows.
find_program(DATTOOL_GZIP gzip)
if(DATTOOL_GZIP)
  set(dattool_gz_man ${CMAKE_CURRENT_BINARY_DIR}/man/dattool.1.gz)
  set(dattool_gz_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${dattool_gz_man}
    COMMAND ${DATTOOL_GZIP} -9n -c ${dattool_man} > ${dattool_gz_man}
    DEPENDS ${dattool_man} VERBATIM)
  add_custom_command(OUTPUT ${dattool_gz_changelog}
    COMMAND ${DATTOOL_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog > ${dattool_gz_changelog}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(dattool_docs ALL DEPENDS ${dattool_gz_man} ${dattool_gz_changelog})
  install(FILES ${dattool_gz_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${dattool_gz_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${dattool_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
# The MIT licence (LICENSE), in Debian's machine-readable copyright format.
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The man page must format without a single warning; each linter found here
# checks it.
if(BUILD_TESTING)
  find_program(DATTOOL_GROFF groff)
  find_program(DATTOOL_MANDOC mandoc)
  if(DATTOOL_GROFF OR DATTOOL_MANDOC)
    add_test(NAME man_page_lint
      COMMAND ${CMAKE_COMMAND} -DPAGE=${dattool_man} -DGROFF=${DATTOOL_GROFF} -DMANDOC=${DATTOOL_MANDOC}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/lint_man.cmake)
  endif()
endif()

set(CPACK_PACKAGE_NAME dattool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${DATTOOL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "create, list and extract DAT archives")
# One line each: the package's control file keeps these lines as they are.
set(CPACK_PACKAGE_DESCRIPTION [[
dattool is a console archiver for DAT archives: single files that hold
whole directory trees. It creates an archive from one or more directories,
lists the paths inside an archive and extracts an archive into the current
directory. Extraction never writes outside the current directory and writes
nothing at all from a damaged archive.]])
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DATTOOL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
