# Installing and packaging: `cmake --install build` puts the tool, its man page
# and its documentation under CMAKE_INSTALL_PREFIX; `cpack -G DEB` (or the
# `package` target) turns the same install into a Debian package.
include(GNUInstallDirs)

set(DATTOOL_MAINTAINER "dattool developers <dattool@example.org>"
    CACHE STRING "Name and address written into the package's Maintainer field")

# The man pages take their version from project(); the date is that of the
# pages' last revision and changes by hand with their text.
set(DATTOOL_MAN_DATE "2026-12-08")

# Debian keeps man pages and changelogs gzipped with -9n (no name, no time
# stamp, so the package builds identically every time); plain copies where
# gzip is missing, as on Windows.
find_program(DATTOOL_GZIP gzip)
if(BUILD_TESTING)
  find_program(DATTOOL_GROFF groff)
  find_program(DATTOOL_MANDOC mandoc)
endif()

# The section 1 page man/<page>.1.in, installed with dattool, and the test
# lint_test, which fails on any warning from each linter found here.
function(dattool_man_page page lint_test)
  set(man ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/man/${page}.1.in ${man} @ONLY)
  if(DATTOOL_GZIP)
    add_custom_command(OUTPUT ${man}.gz COMMAND ${DATTOOL_GZIP} -9n -c ${man} > ${man}.gz DEPENDS ${man} VERBATIM)
    add_custom_target(${page}_man_page ALL DEPENDS ${man}.gz)
    install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dattool)
  else()
    install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dattool)
  endif()
  if(BUILD_TESTING AND (DATTOOL_GROFF OR DATTOOL_MANDOC))
    add_test(NAME ${lint_test}
      COMMAND ${CMAKE_COMMAND} -DPAGE=${man} -DGROFF=${DATTOOL_GROFF} -DMANDOC=${DATTOOL_MANDOC}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/lint_man.cmake)
  endif()
endfunction()
dattool_man_page(dattool man_page_lint)

# The hardening Debian builds its own tools with: checked libc calls and,
# for programs, a read-only relocation table. Not under the sanitizers, which
# do their own checking, and not in unoptimised builds, where fortified calls
# do not work.
function(dattool_harden)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR DATTOOL_SANITIZE)
    return()
  endif()
  set(optimised $<NOT:$<CONFIG:Debug>>)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE $<${optimised}:-U_FORTIFY_SOURCE> $<${optimised}:-D_FORTIFY_SOURCE=2>)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now)
    endif()
  endforeach()
endfunction()
dattool_harden(datobjects datcore dattool)

# The changelog's newest entry names the version being packaged; a version
# bump without an entry would ship a changelog that lies about the package.
file(STRINGS packaging/changelog dattool_changelog_top LIMIT_COUNT 1)
if(NOT dattool_changelog_top MATCHES "^dattool \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog must begin with an entry for dattool ${PROJECT_VERSION}, "
                      "not: ${dattool_changelog_top}")
endif()

install(TARGETS dattool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dattool)
# The Python module, source only: Python compiles it where it runs, and
# Debian's python3 looks in dist-packages of its own prefix and /usr/local.
if(NOT WIN32)
  set(DATTOOL_PYTHON_DIR lib/python3/dist-packages CACHE STRING
      "Where the Python module dat is installed, below CMAKE_INSTALL_PREFIX")
  install(FILES python/dat.py DESTINATION ${DATTOOL_PYTHON_DIR} COMPONENT python)
endif()
# bash completion, where bash-completion loads it on demand: named for the
# command it completes.
if(NOT WIN32)
  install(FILES packaging/completion.bash RENAME dattool
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT dattool)
endif()

if(DATTOOL_GZIP)
  set(dattool_gz_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${dattool_gz_changelog}
    COMMAND ${DATTOOL_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog > ${dattool_gz_changelog}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(dattool_docs ALL DEPENDS ${dattool_gz_changelog})
  set(dattool_doc_changelog ${dattool_gz_changelog})
else()
  set(dattool_doc_changelog packaging/changelog)
endif()
# Each package carries the changelog and the MIT licence (LICENSE), in
# Debian's machine-readable copyright format, in its own documentation
# directory; the tool's and the development package's also carry the
# user's README (the top-level README.md is the developers'); the Python
# module documents itself (help(dat)).
foreach(component_package IN ITEMS dattool:dattool library:libdat0 development:libdat-dev python:python3-dat)
  string(REPLACE ":" ";" component_package ${component_package})
  list(GET component_package 0 component)
  list(GET component_package 1 package)
  install(FILES ${dattool_doc_changelog} packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  if(NOT component MATCHES "^(library|python)$")
    install(FILES packaging/README.user.md RENAME README.md
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME dattool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${DATTOOL_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Four packages: the tool, the shared library, what building against the
# library needs, and the Python module over the library.
set(CPACK_COMPONENTS_ALL dattool library development python)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DATTOOL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libdat0's shlibs file, so that programs built against it depend on it:
# on this version or a later one, as the library only grows (a program may
# use any call this version has).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_DATTOOL_PACKAGE_NAME dattool)
set(CPACK_DEBIAN_DATTOOL_PACKAGE_SECTION utils)
# Each package's description: its summary line first, then one line each,
# as the control file keeps them. CPack puts a package-wide summary before
# each unless it is its own default, which it then leaves out.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_DATTOOL_DESCRIPTION [[
create, list and extract DAT archives
dattool is a console archiver for DAT archives: single files that hold
whole directory trees. It creates an archive from one or more directories,
lists the paths inside an archive and extracts an archive into the current
directory. Extraction never writes outside the current directory and writes
nothing at all from a damaged archive.]])

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libdat${DAT_SOVERSION})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# ldconfig runs through the trigger. CPack would also write scripts that
# call it directly unless the package names its own: these names stand for
# none, so the package has no scripts at all.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/libdat0/triggers
  ${CMAKE_CURRENT_SOURCE_DIR}/packaging/libdat0/none/postinst ${CMAKE_CURRENT_SOURCE_DIR}/packaging/libdat0/none/postrm)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION [[
library to read DAT archives
libdat opens a DAT archive, checks its whole table of contents, walks its
entries in stored order with the path each is extracted to, and reads any
byte range of a file without extracting anything. Several threads may read
one open archive at once.
.
This package holds the shared library.]])

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libdat-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libdat${DAT_SOVERSION} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION [[
library to read DAT archives - development files
libdat opens a DAT archive, checks its whole table of contents, walks its
entries in stored order with the path each is extracted to, and reads any
byte range of a file without extracting anything.
.
This package holds the C and C++ headers, the static library, the
pkg-config file and the CMake package dat.]])

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-dat)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
# The module loads libdat.so.0 at run time, where shlibdeps cannot see it:
# it depends by hand on the library it was written against.
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/python3-dat/prerm)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, libdat${DAT_SOVERSION} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION [[
Python module to read DAT archives
The module dat opens a DAT archive, lists its entries with the path each
is listed by and why extraction would refuse it, reads any file whole or
as a seekable file object, without extracting anything. It works through
the library libdat, with ctypes.]])
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
