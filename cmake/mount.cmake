# datmount's install rules and man page, installed with dattool and so in
# its Debian package (see CMakeLists.txt for the package's dependency).
set(datmount_man ${CMAKE_CURRENT_BINARY_DIR}/man/datmount.1)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/man/datmount.1.in ${datmount_man} @ONLY)

if(NOT DATTOOL_SANITIZE)
  set(optimised $<NOT:$<CONFIG:Debug>>)
  target_compile_options(datmount PRIVATE $<${optimised}:-U_FORTIFY_SOURCE> $<${optimised}:-D_FORTIFY_SOURCE=2>)
  target_link_options(datmount PRIVATE LINKER:-z,relro LINKER:-z,now)
endif()

install(TARGETS datmount RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dattool)
find_program(DATTOOL_GZIP gzip)
if(DATTOOL_GZIP)
  set(datmount_gz_man ${CMAKE_CURRENT_BINARY_DIR}/man/datmount.1.gz)
  add_custom_command(OUTPUT ${datmount_gz_man}
    COMMAND ${DATTOOL_GZIP} -9n -c ${datmount_man} > ${datmount_gz_man}
    DEPENDS ${datmount_man} VERBATIM)
  add_custom_target(datmount_docs ALL DEPENDS ${datmount_gz_man})
  install(FILES ${datmount_gz_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dattool)
else()
  install(FILES ${datmount_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dattool)
endif()

if(BUILD_TESTING)
  find_program(DATTOOL_GROFF groff)
  find_program(DATTOOL_MANDOC mandoc)
  if(DATTOOL_GROFF OR DATTOOL_MANDOC)
    add_test(NAME datmount_man_page_lint
      COMMAND ${CMAKE_COMMAND} -DPAGE=${datmount_man} -DGROFF=${DATTOOL_GROFF} -DMANDOC=${DATTOOL_MANDOC}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/lint_man.cmake)
  endif()
endif()
