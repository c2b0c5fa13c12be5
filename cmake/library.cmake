# The library libdat: the reader's objects behind the faces in include/dat,
# as a shared library (not on Windows, where the static one is enough) and a
# static one, with a pkg-config file and a CMake package dat (target
# dat::dat, the shared library where there is one).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The face may still change: 0 until it settles.
set(DAT_SOVERSION 0)

add_library(dat_static STATIC $<TARGET_OBJECTS:datobjects>)
set_target_properties(dat_static PROPERTIES OUTPUT_NAME dat)
target_include_directories(dat_static INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
if(WIN32)
  set_target_properties(dat_static PROPERTIES EXPORT_NAME dat)
  set(dat_targets dat_static)
else()
  add_library(dat SHARED $<TARGET_OBJECTS:datobjects>)
  set_target_properties(dat PROPERTIES VERSION ${DAT_SOVERSION}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${DAT_SOVERSION} EXPORT_NAME dat)
  target_include_directories(dat INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The libstdc++ templates the reader instantiates would leave with default
  # visibility: the version script keeps them in too.
  target_link_options(dat PRIVATE LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/cmake/libdat.map
    LINKER:--no-undefined LINKER:-z,relro LINKER:-z,now)
  set_property(TARGET dat APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/libdat.map)
  set_target_properties(dat_static PROPERTIES EXPORT_NAME dat_static)
  set(dat_targets dat dat_static)
endif()

install(TARGETS ${dat_targets} EXPORT datTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES include/dat/dat.h include/dat/archive.hpp include/dat/export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dat COMPONENT development)

set(dat_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/dat)
install(EXPORT datTargets NAMESPACE dat:: FILE datTargets.cmake DESTINATION ${dat_cmake_dir}
  COMPONENT development)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/datConfig.cmake.in [[
@PACKAGE_INIT@
include("${CMAKE_CURRENT_LIST_DIR}/datTargets.cmake")
check_required_components(dat)
]])
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/datConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/datConfig.cmake INSTALL_DESTINATION ${dat_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/datConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/datConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/datConfigVersion.cmake
  DESTINATION ${dat_cmake_dir} COMPONENT development)

# The static library needs the C++ runtime, which a C program's link does
# not bring: pkg-config --static adds it.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/dat.pc.in ${CMAKE_CURRENT_BINARY_DIR}/dat.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dat.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
