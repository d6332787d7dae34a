# Installs the headers, libcslib.so, a CMake package (cslib::cslib) and cslib.pc.
include(CMakePackageConfigHelpers)

install(TARGETS cslib EXPORT cslibTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT cslibTargets NAMESPACE cslib::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/cslib)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/cslibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cslibConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/cslib)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cslibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cslibConfig.cmake
              ${PROJECT_BINARY_DIR}/cslibConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/cslibResources.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/cslib)

# The .pc file finds its prefix relative to itself, so an installed tree can move.
file(RELATIVE_PATH CSLIB_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/cslib.pc.in ${PROJECT_BINARY_DIR}/cslib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cslib.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
