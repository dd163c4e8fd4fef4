# Host build: the packer (the Linux zobrel-pack) and its tests.
include(GNUInstallDirs)
enable_language(ASM)
find_package(Threads REQUIRED)

set(ZOBREL_LAUNCHER_EXE "" CACHE FILEPATH
    "The prebuilt launcher the packer carries: a Windows build's launcher/zobrel-launcher.exe")
if(NOT EXISTS "${ZOBREL_LAUNCHER_EXE}")
  message(FATAL_ERROR "Set ZOBREL_LAUNCHER_EXE to the launcher built by the Windows build "
                      "(cmake --build build/win --target zobrel-launcher; scripts/build.sh does it all)")
endif()

# zstd and zlib linked statically, so the tool needs no shared library of
# the host's; zstd is the multi-threaded build scripts/setup.sh makes from the
# same source and flags as the Windows packer's, so both give the same output.
set(ZOBREL_DEPS "/opt/zobrel-deps" CACHE PATH "Where scripts/setup.sh installs the dependencies it builds")
if(NOT EXISTS ${ZOBREL_DEPS}/zstd-host/lib/libzstd.a)
  message(FATAL_ERROR "The host zstd library is missing under ${ZOBREL_DEPS}: run scripts/setup.sh")
endif()
find_library(ZOBREL_ZLIB_STATIC NAMES libz.a REQUIRED)
# libdeflate for the CRC-32 of file contents, at memory speed (scripts/setup.sh).
if(NOT EXISTS ${ZOBREL_DEPS}/libdeflate-host/lib/libdeflate.a)
  message(FATAL_ERROR "The host libdeflate library is missing under ${ZOBREL_DEPS}: run scripts/setup.sh")
endif()
add_library(zobrel_libdeflate STATIC IMPORTED)
set_target_properties(zobrel_libdeflate PROPERTIES IMPORTED_LOCATION ${ZOBREL_DEPS}/libdeflate-host/lib/libdeflate.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZOBREL_DEPS}/libdeflate-host/include)
add_library(zobrel_zstd STATIC IMPORTED)
set_target_properties(zobrel_zstd PROPERTIES IMPORTED_LOCATION ${ZOBREL_DEPS}/zstd-host/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZOBREL_DEPS}/zstd-host/include INTERFACE_LINK_LIBRARIES Threads::Threads)
add_library(zobrel_zlib STATIC IMPORTED)
set_target_properties(zobrel_zlib PROPERTIES IMPORTED_LOCATION ${ZOBREL_ZLIB_STATIC})
set(ZOBREL_PACKER_LIBS zobrel_zstd zobrel_zlib zobrel_libdeflate)
add_compile_options(-Wall -Wextra)
add_link_options(-static-libstdc++ -static-libgcc)

include(cmake/cli11.cmake)
add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# What the launcher and the packer share: the payload and constants layouts,
# capacities, the specification keys, the archive-name rule.
add_subdirectory(format)
add_subdirectory(packer)
add_subdirectory(packer/tests)
include(cmake/package.cmake)

# The Linux archive, installed as a user would and used by another project.
add_test(NAME install_test COMMAND ${CMAKE_SOURCE_DIR}/tests/install_test.sh ${CMAKE_BINARY_DIR})
