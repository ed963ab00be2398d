# Installs the tool, its man page, the core library with its headers and a
# CMake package, so that another project can say
#   find_package(mek CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE mek::mek)
include(CMakePackageConfigHelpers)

set(MEK_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mek)

install(TARGETS mek RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/mek.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS mekcore EXPORT mekTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Only the public headers, include/mek/*.h, included as <mek/...>.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/mek
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT mekTargets NAMESPACE mek:: DESTINATION ${MEK_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mekConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mekConfig.cmake
  INSTALL_DESTINATION ${MEK_PACKAGE_DIR})
# Before 1.0 a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mekConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mekConfig.cmake ${PROJECT_BINARY_DIR}/mekConfigVersion.cmake
  DESTINATION ${MEK_PACKAGE_DIR})
