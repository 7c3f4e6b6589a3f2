# Installs the three artefacts, the public headers and a CMake package, so that a client
# project outside this repository can find_package(profilercontext) and link
# profilercontext::platform, profilercontext::profilercontext and profilercontext::profilerkit.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS platform profilercontext profilerkit EXPORT profilercontextTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    PATTERN "os.h" EXCLUDE)
install(EXPORT profilercontextTargets NAMESPACE profilercontext::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/profilercontext)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/profilercontextConfig.cmake.in
    ${CMAKE_BINARY_DIR}/profilercontextConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/profilercontext)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/profilercontextConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/profilercontextConfig.cmake
    ${CMAKE_BINARY_DIR}/profilercontextConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/profilercontext)
