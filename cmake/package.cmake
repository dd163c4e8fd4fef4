# Installing zobrel-pack and its CMake package, and the archives CPack makes
# of them: a .tar.gz from each Linux build, a .zip from the Windows build,
# named after the platform (linux-x86_64, linux-aarch64, windows-x86_64).
include(CMakePackageConfigHelpers)
set(zobrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ZobrelOnefile)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ZobrelOnefileConfig.cmake.in
  ${CMAKE_BINARY_DIR}/ZobrelOnefileConfig.cmake INSTALL_DESTINATION ${zobrel_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZobrelOnefileConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ZobrelOnefileConfig.cmake ${CMAKE_BINARY_DIR}/ZobrelOnefileConfigVersion.cmake
              ${CMAKE_SOURCE_DIR}/cmake/ZobrelOnefile.cmake
        DESTINATION ${zobrel_cmake_dir})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME zobrel-onefile)
set(CPACK_PACKAGE_VENDOR "zobrel-onefile")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Packs a Windows console application folder into one self-unpacking .exe")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zobrel-onefile-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME zobrel-onefile-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
