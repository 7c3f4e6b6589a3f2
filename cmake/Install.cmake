# Installs the three artefacts, the public headers, a CMake package and a pkg-config file,
# so that a client project outside this repository can find_package(profilercontext) and
# link profilercontext::platform, profilercontext::profilercontext and
# profilercontext::profilerkit (or profilercontext::headers alone, for a module built with
# PROFILER_KIT_DISABLE), or build with `pkg-config --cflags --libs profilercontext`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The shared library with its versioned names (Linux) or the DLL in bin/ and its import
# library in lib/ (Windows); the static libraries in lib/.
install(TARGETS profilercontext_headers platform profilercontext profilerkit
    EXPORT profilercontextTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Every header in <prefix>/include/profilercontext/: the prefix's include/ gets one name only.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ ${CMAKE_SOURCE_DIR}/${PC_OS_DIR}/include/
    ${CMAKE_BINARY_DIR}/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/profilercontext PATTERN "os.h" EXCLUDE)
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

# pkg-config: the prefix is found from the file's own place, so an install with --prefix
# (or a moved tree) stays right. The kit and the platform layer are static: their own
# needs (threads, the loader library, the Windows version) go into Libs and Cflags.
file(RELATIVE_PATH PC_PKG_PREFIX_FROM_PCDIR /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" PC_PKG_PREFIX_FROM_PCDIR "${PC_PKG_PREFIX_FROM_PCDIR}")
set(PC_PKG_CFLAGS "")
set(PC_PKG_LIBS "")
if(WIN32)
    set(PC_PKG_CFLAGS " -D_WIN32_WINNT=0x0601")
endif()
foreach(library ${CMAKE_DL_LIBS})
    string(APPEND PC_PKG_LIBS " -l${library}")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/cmake/profilercontext.pc.in
    ${CMAKE_BINARY_DIR}/profilercontext.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/profilercontext.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
