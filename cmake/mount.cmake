# datmount's install rules and man page, installed with dattool and so in
# its Debian package (see CMakeLists.txt for the package's dependency).
dattool_harden(datmount)

install(TARGETS datmount RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dattool)
dattool_man_page(datmount datmount_man_page_lint)
