# Windows build: the launcher, zobrel-pack.exe, the Windows tests, the
# benchmarks and the example application, cross-compiled and run under Wine.
# For ARM64 (cmake/toolchain-mingw-arm64.cmake) the launchers alone, and the
# ARM64 test programs (tests/arm64/): the packers and the rest are x64 or
# Linux programs.
include(GNUInstallDirs)
enable_language(ASM)
set(ZOBREL_PACK "" CACHE FILEPATH "The host build's zobrel-pack, which packs the test applications")
set(ZOBREL_ARM64_LAUNCHER_DIR "" CACHE PATH
    "The ARM64 launchers' folder (an ARM64 build's launcher/), which zobrel-pack.exe carries; empty: x64 only")
set(ZOBREL_ARM64_TEST_PROGRAMS "" CACHE PATH
    "The ARM64 build's test programs (tests/arm64/), which some tests pack; empty: none")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  set(ZOBREL_LAUNCHERS_ONLY ON)
endif()

# Every Windows program this build makes runs under Wine, in one prefix per
# build tree. Test runs and test discovery retry Wine's own start-up fault
# once, and log each retry (cmake/wine-run.sh).
set(ZOBREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env ZOBREL_WINEPREFIX=${ZOBREL_WINEPREFIX} ZOBREL_WINE_RETRY=1
    ZOBREL_WINE_RETRY_LOG=${CMAKE_BINARY_DIR}/wine-retries.log
    ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)

# zstd (the whole library, and a decoder alone for the launcher), libdeflate
# and zlib, built here for Windows from their own sources.
include(cmake/dependencies.cmake)

# Flags for everything that runs on Windows: static runtime, no timestamp in
# the PE header (packed executables are reproducible).
add_library(zobrel_windows_flags INTERFACE)
target_compile_options(zobrel_windows_flags INTERFACE -Wall -Wextra $<$<BOOL:${ZOBREL_WERROR}>:-Werror>)
target_compile_definitions(zobrel_windows_flags INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(zobrel_windows_flags INTERFACE -static -Wl,--no-insert-timestamp)
if(ZOBREL_LAUNCHERS_ONLY)
  # mingw-w64's own printf family, linked in, rather than variadic calls into
  # the C runtime DLL: the ARM64 Wine the tests run on mishandles va_list
  # and floating point in those (Windows does not); the output is the same.
  target_compile_definitions(zobrel_windows_flags INTERFACE __USE_MINGW_ANSI_STDIO=1)
endif()
# The launcher's own code: no exceptions.
add_library(zobrel_launcher_flags INTERFACE)
target_link_libraries(zobrel_launcher_flags INTERFACE zobrel_windows_flags)
target_compile_options(zobrel_launcher_flags INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
# Programs whose entry point is wmain (the launcher, test helpers).
add_library(zobrel_wmain INTERFACE)
target_link_options(zobrel_wmain INTERFACE -municode)

# Every launcher image the packers carry, all in launcher/; the top-level
# build builds this target first. A further launcher variant adds itself
# (add_dependencies(zobrel_launchers ...)).
set(ZOBREL_LAUNCHER_DIR ${CMAKE_BINARY_DIR}/launcher)
add_custom_target(zobrel_launchers)

# What the launcher and the packer share: the payload and constants layouts,
# capacities, the specification keys, the archive-name rule.
add_subdirectory(format)
add_subdirectory(common)
add_subdirectory(pathspec)
add_subdirectory(payload)
add_subdirectory(tidy)
add_subdirectory(child)
add_subdirectory(launcher)
add_dependencies(zobrel_launchers zobrel-launcher)
if(ZOBREL_LAUNCHERS_ONLY)
  if(BUILD_TESTING)
    add_subdirectory(tests/arm64)
  endif()
  return()
endif()

# zobrel-pack.exe, carrying the launcher built here.
set(ZOBREL_LAUNCHER_EXE ${ZOBREL_LAUNCHER_DIR}/zobrel-launcher.exe)
set(ZOBREL_PACKER_LIBS zobrel_zstd zobrel_zlib zobrel_libdeflate zobrel_windows_flags shell32)
include(cmake/cli11.cmake)
add_subdirectory(packer)
add_dependencies(zobrel_packer_image zobrel_launchers)
include(cmake/package.cmake)

# The example application, and the tests and benchmarks, which pack
# applications with the host build's zobrel-pack.
add_subdirectory(examples)
if(NOT BUILD_TESTING)
  return()
endif()
if(NOT ZOBREL_PACK)
  message(FATAL_ERROR "Set ZOBREL_PACK to the host build's zobrel-pack, which packs the test applications "
                      "(the top-level build does when it builds this one), or BUILD_TESTING=OFF")
endif()
# GoogleTest, cross-built from Debian's source.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(cmake/ZobrelOnefile.cmake)
add_subdirectory(tests)
add_subdirectory(bench)
