# Host build: the Linux zobrel-pack and its tests. As the top-level build
# (ZOBREL_SUPERBUILD, the default) it also builds the Windows launcher that
# zobrel-pack carries, the Windows tests and the aarch64 zobrel-pack, each as
# a sub-build of its own (cmake/superbuild.cmake).
include(GNUInstallDirs)
enable_language(ASM)
find_package(Threads REQUIRED)

option(ZOBREL_SUPERBUILD "Also build the Windows launcher, Windows tests and aarch64 packer as sub-builds" ON)
option(ZOBREL_STATIC_PACKER "Link zobrel-pack fully statically, C library included, so it runs on any Linux" ON)
set(ZOBREL_SANITIZERS "" CACHE STRING "Sanitizers for the host code (-fsanitize=), e.g. address;undefined")
option(ZOBREL_FUZZ "Build the fuzz targets (fuzz/) with libFuzzer: clang, with ZOBREL_SANITIZERS" OFF)

if(ZOBREL_STATIC_PACKER AND ZOBREL_SANITIZERS)
  # The sanitizers' runtimes are shared libraries.
  message(FATAL_ERROR "ZOBREL_SANITIZERS needs ZOBREL_STATIC_PACKER=OFF")
endif()

if(ZOBREL_SUPERBUILD)
  set(ZOBREL_WINDOWS_BINARY_DIR ${CMAKE_BINARY_DIR}/win)
  set(ZOBREL_LAUNCHER_DIR ${ZOBREL_WINDOWS_BINARY_DIR}/launcher)
  set(ZOBREL_LAUNCHER_EXE ${ZOBREL_LAUNCHER_DIR}/zobrel-launcher.exe)
  option(ZOBREL_ARM64 "Build the ARM64 Windows launchers (win-arm64/, with a toolchain made from Debian's sources), \
which the packers carry, and test them under ARM64 Wine" ON)
  set(ZOBREL_ARM64_LAUNCHER_DIR "")
  if(ZOBREL_ARM64)
    set(ZOBREL_ARM64_LAUNCHER_DIR ${CMAKE_BINARY_DIR}/win-arm64/launcher)
  endif()
else()
  set(ZOBREL_LAUNCHER_EXE "" CACHE FILEPATH
      "The prebuilt launcher the packer carries: a Windows build's launcher/zobrel-launcher.exe")
  if(NOT EXISTS "${ZOBREL_LAUNCHER_EXE}")
    message(FATAL_ERROR "Set ZOBREL_LAUNCHER_EXE to the launcher a Windows build made "
                        "(or configure with ZOBREL_SUPERBUILD=ON, which builds it)")
  endif()
  # The folder of every launcher image (a further variant lies beside it).
  get_filename_component(ZOBREL_LAUNCHER_DIR ${ZOBREL_LAUNCHER_EXE} DIRECTORY)
  if(NOT EXISTS "${ZOBREL_LAUNCHER_DIR}/zobrel-launcher-windowed.exe")
    message(FATAL_ERROR "The windowed launcher zobrel-launcher-windowed.exe is not beside ${ZOBREL_LAUNCHER_EXE}: "
                        "give the launcher folder of a complete Windows build")
  endif()
  set(ZOBREL_ARM64_LAUNCHER_DIR "" CACHE PATH
      "The ARM64 launchers' folder (an ARM64 Windows build's launcher/), which the packer carries; empty: x64 only")
endif()

# zstd (multi-threaded, the same source and flags as every other packer's, so
# all give the same output), libdeflate and zlib, built here from their own
# sources and linked statically.
include(cmake/dependencies.cmake)
set(ZOBREL_PACKER_LIBS zobrel_zstd zobrel_zlib zobrel_libdeflate)

add_compile_options(-Wall -Wextra)
if(ZOBREL_SANITIZERS)
  list(JOIN ZOBREL_SANITIZERS "," zobrel_sanitizers)
  add_compile_options(-fsanitize=${zobrel_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${zobrel_sanitizers})
elseif(NOT ZOBREL_STATIC_PACKER)
  add_link_options(-static-libstdc++ -static-libgcc)
endif()
if(ZOBREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ZOBREL_FUZZ needs clang (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++")
  endif()
  # libFuzzer's coverage over all of this project's code; the fuzz targets
  # link libFuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

include(cmake/cli11.cmake)
if(BUILD_TESTING)
  add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
# Our own code only: GoogleTest keeps its warnings.
if(ZOBREL_WERROR)
  add_compile_options(-Werror)
endif()
# GCC 12 warns falsely about overlapping copies when it inlines the
# assignment of a literal to a std::u16string (GCC bug 105651, fixed in 13).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()

# What the launcher and the packer share: the payload and constants layouts,
# capacities, the specification keys, the archive-name rule.
add_subdirectory(format)
add_subdirectory(packer)
if(ZOBREL_STATIC_PACKER)
  # No shared library at all, so no C library version floor.
  target_link_options(zobrel-pack PRIVATE -static)
endif()
include(cmake/package.cmake)

if(BUILD_TESTING)
  add_subdirectory(packer/tests)
  # The Linux archive, installed as a user would and used by another project.
  add_test(NAME install_test COMMAND ${CMAKE_SOURCE_DIR}/tests/install_test.sh ${CMAKE_BINARY_DIR})
  # setup.sh takes the dependencies' sources only from the apt sources the machine names.
  add_test(NAME setup_sources_test COMMAND ${CMAKE_SOURCE_DIR}/tests/setup_sources_test.sh)
  # Every source laid out as .clang-format says, so a diff shows only what changed.
  add_test(NAME format_check COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-format.sh)
endif()

if(ZOBREL_SUPERBUILD)
  include(cmake/superbuild.cmake)
endif()
# The fuzz targets: the fuzzers themselves (ZOBREL_FUZZ), or their replay of
# saved inputs and, in the top-level build, their timed runs, as tests.
if(BUILD_TESTING OR ZOBREL_FUZZ)
  add_subdirectory(fuzz)
endif()
