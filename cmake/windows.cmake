# Windows build: the launcher, zobrel-pack.exe, the Windows tests, the
# benchmarks and the example application, cross-compiled and run under Wine.
include(GNUInstallDirs)
enable_language(ASM)
set(ZOBREL_DEPS "/opt/zobrel-deps" CACHE PATH "Where scripts/setup.sh installs the Windows builds of the dependencies")
set(ZOBREL_PACK "" CACHE FILEPATH "The host build's zobrel-pack, which packs the test applications")

# Every Windows program this build makes runs under Wine, in one prefix per
# build tree. Test runs and test discovery retry Wine's own start-up fault
# once, and log each retry (cmake/wine-run.sh).
set(ZOBREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env ZOBREL_WINEPREFIX=${ZOBREL_WINEPREFIX} ZOBREL_WINE_RETRY=1
    ZOBREL_WINE_RETRY_LOG=${CMAKE_BINARY_DIR}/wine-retries.log
    ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)

# zstd, built by its own Makefile with its own flags (scripts/setup.sh): a
# decoder alone for the launcher, the whole library for the packer and tests.
foreach(kind zstd zstd-decoder)
  if(NOT EXISTS ${ZOBREL_DEPS}/${kind}-mingw/lib/libzstd.a)
    message(FATAL_ERROR "The Windows ${kind} library is missing under ${ZOBREL_DEPS}: run scripts/setup.sh")
  endif()
endforeach()
add_library(zobrel_zstd STATIC IMPORTED)
set_target_properties(zobrel_zstd PROPERTIES
  IMPORTED_LOCATION ${ZOBREL_DEPS}/zstd-mingw/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZOBREL_DEPS}/zstd-mingw/include)
add_library(zobrel_zstd_decoder STATIC IMPORTED)
set_target_properties(zobrel_zstd_decoder PROPERTIES
  IMPORTED_LOCATION ${ZOBREL_DEPS}/zstd-decoder-mingw/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZOBREL_DEPS}/zstd-decoder-mingw/include)
# libdeflate for every CRC-32 of file contents, at memory speed (scripts/setup.sh).
if(NOT EXISTS ${ZOBREL_DEPS}/libdeflate-mingw/lib/libdeflate.a)
  message(FATAL_ERROR "The Windows libdeflate library is missing under ${ZOBREL_DEPS}: run scripts/setup.sh")
endif()
add_library(zobrel_libdeflate STATIC IMPORTED)
set_target_properties(zobrel_libdeflate PROPERTIES IMPORTED_LOCATION ${ZOBREL_DEPS}/libdeflate-mingw/lib/libdeflate.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZOBREL_DEPS}/libdeflate-mingw/include)
# Debian's static mingw zlib (the import library libz.dll.a must not be picked).
add_library(zobrel_zlib STATIC IMPORTED)
set_target_properties(zobrel_zlib PROPERTIES IMPORTED_LOCATION /usr/${ZOBREL_MINGW_PREFIX}/lib/libz.a)

# Flags for everything that runs on Windows: static runtime, no timestamp in
# the PE header (packed executables are reproducible).
add_library(zobrel_windows_flags INTERFACE)
target_compile_options(zobrel_windows_flags INTERFACE -Wall -Wextra)
target_compile_definitions(zobrel_windows_flags INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(zobrel_windows_flags INTERFACE -static -Wl,--no-insert-timestamp)
# The launcher's own code: no exceptions.
add_library(zobrel_launcher_flags INTERFACE)
target_link_libraries(zobrel_launcher_flags INTERFACE zobrel_windows_flags)
target_compile_options(zobrel_launcher_flags INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
# Programs whose entry point is wmain (the launcher, test helpers).
add_library(zobrel_wmain INTERFACE)
target_link_options(zobrel_wmain INTERFACE -municode)

# What the launcher and the packer share: the payload and constants layouts,
# capacities, the specification keys, the archive-name rule.
add_subdirectory(format)
add_subdirectory(common)
add_subdirectory(pathspec)
add_subdirectory(payload)
add_subdirectory(child)
add_subdirectory(launcher)

# zobrel-pack.exe, carrying the launcher built here.
set(ZOBREL_LAUNCHER_EXE ${CMAKE_BINARY_DIR}/launcher/zobrel-launcher.exe)
set(ZOBREL_PACKER_LIBS zobrel_zstd zobrel_zlib zobrel_libdeflate zobrel_windows_flags shell32)
include(cmake/cli11.cmake)
add_subdirectory(packer)
add_dependencies(zobrel_packer zobrel-launcher)
include(cmake/package.cmake)

if(NOT ZOBREL_PACK)
  message(FATAL_ERROR "Set ZOBREL_PACK to the host build's zobrel-pack, which packs the test applications "
                      "(scripts/build.sh does)")
endif()
# GoogleTest, cross-built from Debian's source.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(cmake/ZobrelOnefile.cmake)
add_subdirectory(examples)
add_subdirectory(tests)
add_subdirectory(bench)
