# The top-level build's sub-builds: this same source tree configured with a
# cross toolchain, each in a folder of this build tree.
#
#   win/            mingw-w64: the launcher, zobrel-pack.exe, the example, the
#                   Windows tests and benchmarks (run under Wine)
#   win-arm64/      clang and lld with the toolchain made in arm64-toolchain/
#                   (cmake/arm64-toolchain.cmake): the ARM64 launchers and the
#                   ARM64 test programs (run under ARM64 Wine, in a chroot,
#                   arm64-wine/), with ZOBREL_ARM64
#   linux-aarch64/  Debian's aarch64 cross toolchain: zobrel-pack for aarch64
#                   Linux (checked under qemu-user)
#
# The order: the Windows launchers (the first step of win/, and win-arm64/);
# then the two Linux zobrel-packs, which carry them; then the rest of win/,
# whose tests pack applications with this build's zobrel-pack. ctest in this
# build runs the host tests, the ARM64 ones and win/'s. Each sub-build is a
# plain CMake build of its own: `cmake --build build/win` or
# `ctest --test-dir build/win` work on it alone.
option(ZOBREL_WINDOWS_TESTS "Build the Windows tests and benchmarks (win/), run by ctest under Wine" ON)
option(ZOBREL_AARCH64 "Cross-build the aarch64 Linux zobrel-pack (linux-aarch64/), checked under qemu-user" ON)

set(ZOBREL_MINGW_TOOLCHAIN ${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw64.cmake)
set(ZOBREL_AARCH64_TOOLCHAIN ${PROJECT_SOURCE_DIR}/cmake/toolchain-aarch64-linux.cmake)
set(ZOBREL_AARCH64_BINARY_DIR ${CMAKE_BINARY_DIR}/linux-aarch64)
set(ZOBREL_ARM64_BINARY_DIR ${CMAKE_BINARY_DIR}/win-arm64)
# The ARM64 test programs, which some x64 and Linux tests pack too.
set(ZOBREL_ARM64_TEST_PROGRAMS "")
if(ZOBREL_ARM64 AND BUILD_TESTING)
  set(ZOBREL_ARM64_TEST_PROGRAMS ${ZOBREL_ARM64_BINARY_DIR}/tests/arm64)
endif()

# The Windows build packs its test applications with this build's
# zobrel-pack; its path is fixed here, as the sub-build is configured before
# zobrel-pack is built.
set(ZOBREL_HOST_PACK ${CMAKE_BINARY_DIR}/packer/zobrel-pack)
set_target_properties(zobrel-pack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packer)

# What every sub-build takes from this one.
set(zobrel_subbuild_args
  -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
  -DZOBREL_WERROR=${ZOBREL_WERROR}
  -DZOBREL_SOURCE_CACHE=${ZOBREL_SOURCE_CACHE}
  -DZOBREL_DEPS_JOBS=${ZOBREL_DEPS_JOBS})

# zobrel_check_compiler(toolchain option package): a missing cross compiler
# is said now, not halfway through the build.
function(zobrel_check_compiler toolchain option package)
  include(${toolchain})
  get_filename_component(compiler ${CMAKE_CXX_COMPILER} NAME)
  find_program(found ${compiler} NO_CACHE)
  if(NOT found)
    message(FATAL_ERROR "${compiler} is missing: run scripts/setup.sh (Debian package ${package})${option}")
  endif()
endfunction()

# The Windows launchers (win/'s target zobrel_launchers), for the packers to
# carry. Every launcher image in ZOBREL_LAUNCHER_DIR is listed as made by this
# step, so that whatever uses one waits for it: a further launcher variant
# appends its file name here.
set(ZOBREL_LAUNCHER_NAMES zobrel-launcher.exe zobrel-launcher-windowed.exe)
list(TRANSFORM ZOBREL_LAUNCHER_NAMES PREPEND ${ZOBREL_LAUNCHER_DIR}/ OUTPUT_VARIABLE zobrel_launchers)
zobrel_check_compiler(${ZOBREL_MINGW_TOOLCHAIN} "" g++-mingw-w64-x86-64-posix)
# The tests need GoogleTest and this build's zobrel-pack.
if(ZOBREL_WINDOWS_TESTS AND BUILD_TESTING)
  set(zobrel_windows_args -DBUILD_TESTING=ON -DZOBREL_PACK=${ZOBREL_HOST_PACK} -DZOBREL_GTEST_SOURCE=${ZOBREL_GTEST_SOURCE}
      -DZOBREL_ARM64_TEST_PROGRAMS=${ZOBREL_ARM64_TEST_PROGRAMS})
else()
  set(zobrel_windows_args -DBUILD_TESTING=OFF)
endif()
ExternalProject_Add(zobrel_windows_launchers
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZOBREL_WINDOWS_BINARY_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/subbuilds
  CMAKE_ARGS ${zobrel_subbuild_args} -DCMAKE_TOOLCHAIN_FILE=${ZOBREL_MINGW_TOOLCHAIN} ${zobrel_windows_args}
             -DZOBREL_ARM64_LAUNCHER_DIR=${ZOBREL_ARM64_LAUNCHER_DIR}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target zobrel_launchers
  BUILD_ALWAYS TRUE
  BUILD_BYPRODUCTS ${zobrel_launchers}
  INSTALL_COMMAND ""
  USES_TERMINAL_CONFIGURE TRUE USES_TERMINAL_BUILD TRUE)
add_dependencies(zobrel_packer zobrel_windows_launchers)

# The ARM64 launchers (win-arm64/), with the toolchain made here first, and
# the ARM64 test programs. Every packer carries the launchers, so each waits
# for them.
set(zobrel_arm64_args "")
if(ZOBREL_ARM64)
  include(cmake/arm64-toolchain.cmake)
  set(zobrel_arm64_launchers ${ZOBREL_LAUNCHER_NAMES})
  list(TRANSFORM zobrel_arm64_launchers PREPEND ${ZOBREL_ARM64_LAUNCHER_DIR}/)
  ExternalProject_Add(zobrel_windows_arm64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ZOBREL_ARM64_BINARY_DIR}
    PREFIX ${CMAKE_BINARY_DIR}/subbuilds
    CMAKE_ARGS ${zobrel_subbuild_args} -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-arm64.cmake
               -DZOBREL_ARM64_TOOLCHAIN=${ZOBREL_ARM64_TOOLCHAIN} -DBUILD_TESTING=${BUILD_TESTING}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
    BUILD_ALWAYS TRUE
    BUILD_BYPRODUCTS ${zobrel_arm64_launchers}
    INSTALL_COMMAND ""
    DEPENDS zobrel_arm64_toolchain
    USES_TERMINAL_CONFIGURE TRUE USES_TERMINAL_BUILD TRUE)
  add_dependencies(zobrel_packer zobrel_windows_arm64)
  set(zobrel_arm64_args -DZOBREL_ARM64_LAUNCHER_DIR=${ZOBREL_ARM64_LAUNCHER_DIR})
  set(zobrel_arm64_build zobrel_windows_arm64)
  if(BUILD_TESTING)
    # The ARM64 launchers import only the DLLs Windows pins, as the x64 ones.
    add_test(NAME arm64_launcher_imports_test COMMAND ${CMAKE_SOURCE_DIR}/tests/launcher_imports_test.sh
      ${ZOBREL_ARM64_TOOLCHAIN}/bin/aarch64-w64-mingw32-objdump ${ZOBREL_ARM64_LAUNCHER_DIR})
  endif()
  if(BUILD_TESTING AND ZOBREL_WINDOWS_TESTS)
    include(tests/arm64/wine_tests.cmake)
  endif()
else()
  set(zobrel_arm64_build "")
endif()

# The rest of the Windows build, once this build's zobrel-pack is made.
ExternalProject_Add(zobrel_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZOBREL_WINDOWS_BINARY_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/subbuilds
  DOWNLOAD_COMMAND "" CONFIGURE_COMMAND ""
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
  BUILD_ALWAYS TRUE
  INSTALL_COMMAND ""
  DEPENDS zobrel_windows_launchers zobrel-pack ${zobrel_arm64_build}
  USES_TERMINAL_BUILD TRUE)

if(ZOBREL_WINDOWS_TESTS AND BUILD_TESTING)
  # ctest here runs win/'s tests too.
  file(WRITE ${CMAKE_BINARY_DIR}/zobrel-subbuild-tests.cmake "subdirs(\"${ZOBREL_WINDOWS_BINARY_DIR}\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/zobrel-subbuild-tests.cmake)
endif()

if(BUILD_TESTING)
  # clang-tidy's fault-finding checks (.clang-tidy) over the packer as this
  # build compiles it and over the launcher as win/ compiles it.
  add_test(NAME tidy_check COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-tidy.sh ${CMAKE_BINARY_DIR}
                                   ${ZOBREL_WINDOWS_BINARY_DIR})
endif()

set(zobrel_release_args -DHOST=${CMAKE_BINARY_DIR} -DWINDOWS=${ZOBREL_WINDOWS_BINARY_DIR})
set(zobrel_release_builds zobrel-pack zobrel_windows)

if(ZOBREL_AARCH64)
  zobrel_check_compiler(${ZOBREL_AARCH64_TOOLCHAIN} " or configure with ZOBREL_AARCH64=OFF" g++-aarch64-linux-gnu)
  set(ZOBREL_AARCH64_PACK ${ZOBREL_AARCH64_BINARY_DIR}/packer/zobrel-pack)
  ExternalProject_Add(zobrel_linux_aarch64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ZOBREL_AARCH64_BINARY_DIR}
    PREFIX ${CMAKE_BINARY_DIR}/subbuilds
    CMAKE_ARGS ${zobrel_subbuild_args} -DCMAKE_TOOLCHAIN_FILE=${ZOBREL_AARCH64_TOOLCHAIN}
               -DZOBREL_SUPERBUILD=OFF -DBUILD_TESTING=OFF -DZOBREL_STATIC_PACKER=ON
               -DZOBREL_LAUNCHER_EXE=${ZOBREL_LAUNCHER_EXE} ${zobrel_arm64_args}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
    BUILD_ALWAYS TRUE
    BUILD_BYPRODUCTS ${ZOBREL_AARCH64_PACK}
    INSTALL_COMMAND ""
    USES_TERMINAL_CONFIGURE TRUE USES_TERMINAL_BUILD TRUE)
  # After the launchers, which it carries; its own build notices when they change.
  add_dependencies(zobrel_linux_aarch64 zobrel_windows_launchers ${zobrel_arm64_build})
  list(APPEND zobrel_release_args -DAARCH64=${ZOBREL_AARCH64_BINARY_DIR})
  list(APPEND zobrel_release_builds zobrel_linux_aarch64)

  if(BUILD_TESTING)
    find_program(ZOBREL_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static
      DOC "qemu-user's aarch64 emulator, which runs the aarch64 zobrel-pack in the tests")
    if(NOT ZOBREL_QEMU_AARCH64)
      message(FATAL_ERROR "qemu-aarch64 is missing: run scripts/setup.sh (Debian package qemu-user) "
                          "or configure with ZOBREL_AARCH64=OFF")
    endif()
    # Both Linux packers are static, and the aarch64 one, run under qemu-user,
    # writes what the x86-64 one writes, byte for byte, and reads it back.
    add_test(NAME linux_packers_test COMMAND ${CMAKE_SOURCE_DIR}/tests/linux_packers_test.sh
      $<TARGET_FILE:zobrel-pack> ${ZOBREL_AARCH64_PACK} ${ZOBREL_QEMU_AARCH64}
      ${ZOBREL_WINDOWS_BINARY_DIR}/examples/vexor-app ${ZOBREL_ARM64_TEST_PROGRAMS})
  endif()
endif()

# The fuzzers (fuzz/): this tree's host code again, built with clang for
# libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, the
# dependencies under AddressSanitizer too. ctest runs each for
# ZOBREL_FUZZ_SECONDS (fuzz/CMakeLists.txt).
option(ZOBREL_FUZZ_TESTS "Build the fuzz targets with clang (fuzzers/) and run each for a while with ctest" ON)
set(ZOBREL_FUZZ_SECONDS 60 CACHE STRING "How long ctest runs each fuzz target, in seconds")
if(ZOBREL_FUZZ_TESTS AND BUILD_TESTING)
  find_program(ZOBREL_CLANG NAMES clang DOC "clang, which builds the fuzz targets")
  find_program(ZOBREL_CLANGXX NAMES clang++ DOC "clang++, which builds the fuzz targets")
  if(NOT ZOBREL_CLANG OR NOT ZOBREL_CLANGXX)
    message(FATAL_ERROR "clang is missing: run scripts/setup.sh (Debian packages clang and libclang-rt-dev) "
                        "or configure with ZOBREL_FUZZ_TESTS=OFF")
  endif()
  set(ZOBREL_FUZZERS_DIR ${CMAKE_BINARY_DIR}/fuzzers)
  ExternalProject_Add(zobrel_fuzzers
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ZOBREL_FUZZERS_DIR}
    PREFIX ${CMAKE_BINARY_DIR}/subbuilds
    LIST_SEPARATOR |
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=${ZOBREL_CLANG}
               -DCMAKE_CXX_COMPILER=${ZOBREL_CLANGXX} -DZOBREL_WERROR=${ZOBREL_WERROR}
               -DZOBREL_SOURCE_CACHE=${ZOBREL_SOURCE_CACHE} -DZOBREL_DEPS_JOBS=${ZOBREL_DEPS_JOBS}
               -DZOBREL_SUPERBUILD=OFF -DBUILD_TESTING=OFF -DZOBREL_STATIC_PACKER=OFF -DZOBREL_FUZZ=ON
               -DZOBREL_SANITIZERS=address|undefined -DZOBREL_DEPS_C_FLAGS=-fsanitize=address
               -DZOBREL_LAUNCHER_EXE=${ZOBREL_LAUNCHER_EXE} ${zobrel_arm64_args}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target zobrel_fuzzers
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    USES_TERMINAL_CONFIGURE TRUE USES_TERMINAL_BUILD TRUE)
  # The packer's library, which the targets use, carries the launchers.
  add_dependencies(zobrel_fuzzers zobrel_windows_launchers ${zobrel_arm64_build})
endif()

# The release, in release/: one archive per platform, the Debian packages,
# the Python wheels and the npm package, and their SHA256SUMS
# (cmake/release.cmake). scripts/build.sh makes it; its tests check what it
# holds, each channel installed as its users install it, into folders of
# their own.
find_program(ZOBREL_NPM NAMES npm DOC "npm, which makes the npm package of the release")
find_program(ZOBREL_PYTHON NAMES python3 DOC "Python 3, which makes the wheels of the release")
set(zobrel_release_dir ${CMAKE_BINARY_DIR}/release)
add_custom_target(release
  COMMAND ${CMAKE_COMMAND} ${zobrel_release_args} -DVERSION=${PROJECT_VERSION} -DOUTPUT=${zobrel_release_dir}
          -DNPM=${ZOBREL_NPM} -DPYTHON=${ZOBREL_PYTHON} -P ${PROJECT_SOURCE_DIR}/cmake/release.cmake
  COMMENT "Making the release in ${zobrel_release_dir}"
  VERBATIM)
add_dependencies(release ${zobrel_release_builds})
if(BUILD_TESTING)
  set(zobrel_release_tests release_test wheel_test deb_test)
  if(ZOBREL_AARCH64)
    list(APPEND zobrel_release_tests npm_package_test)
  endif()
  foreach(test IN LISTS zobrel_release_tests)
    add_test(NAME ${test} COMMAND ${CMAKE_SOURCE_DIR}/tests/${test}.sh)
  endforeach()
  # What every one of them knows: the release, the build's own zobrel-pack
  # (whose output each installed one must match), the application they
  # pack, and how to run what this machine cannot run natively.
  set_tests_properties(${zobrel_release_tests} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    ENVIRONMENT "ZOBREL_RELEASE=${zobrel_release_dir};ZOBREL_VERSION=${PROJECT_VERSION};\
ZOBREL_BUILD_PACK=$<TARGET_FILE:zobrel-pack>;ZOBREL_SAMPLE_APP=${ZOBREL_WINDOWS_BINARY_DIR}/examples/vexor-app;\
ZOBREL_QEMU_AARCH64=$<$<BOOL:${ZOBREL_AARCH64}>:${ZOBREL_QEMU_AARCH64}>;ZOBREL_PYTHON=${ZOBREL_PYTHON};\
ZOBREL_WINE_RUN=${CMAKE_SOURCE_DIR}/cmake/wine-run.sh;ZOBREL_WINEPREFIX=${ZOBREL_WINDOWS_BINARY_DIR}/wineprefix")
endif()
