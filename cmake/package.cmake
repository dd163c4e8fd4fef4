# Installing zobrel-pack and its CMake package, and the archives CPack makes
# of them: a .tar.gz from each Linux build, a .zip from the Windows build,
# named after the platform (linux-x86_64, linux-aarch64, windows-x86_64);
# and from each Linux build a Debian package (cpack -G DEB, as the release
# makes it): zobrel-pack in /usr/bin, the CMake package in
# /usr/lib/cmake/ZobrelOnefile.
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Packs a 64-bit Windows application folder into one self-unpacking .exe")
# The Debian package's long description: lines as it shows them.
set(CPACK_PACKAGE_DESCRIPTION "zobrel-pack takes a Windows application folder (the main program, its
DLLs, its data files) and makes a single executable that carries the whole
folder, zstd-compressed. Run, it unpacks the folder into a per-user cache,
writing only the files that differ, and starts the main program with its
own arguments, handles and environment. Packing runs no compiler or linker.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zobrel-onefile-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME zobrel-onefile-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
if(NOT WIN32)
  set(CPACK_DEBIAN_PACKAGE_NAME zobrel-pack)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Debian's names for the processors; the build's own, not the machine's
  # that runs cpack (the aarch64 build is a cross build).
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  endif()
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "zobrel-onefile developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # zobrel-pack is fully static: no shared library, so no dependency.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
  # The prefix of the Debian package alone (the archives have none).
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack-generators.cmake)
endif()
include(CPack)
