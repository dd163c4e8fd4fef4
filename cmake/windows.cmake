# Windows build: the launcher runtime (static libraries the packer links into
# each packed executable), the Windows tests and the benchmarks.
set(ZOBREL_DEPS "/opt/zobrel-deps" CACHE PATH "Where scripts/setup.sh put the Windows zstd build")
set(ZOBREL_PACK "${CMAKE_BINARY_DIR}/../host/packer/zobrel-pack" CACHE FILEPATH "The host packer")

# Tests run under Wine in one prefix per build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env ZOBREL_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)

add_library(zobrel_zstd STATIC IMPORTED)
set_target_properties(zobrel_zstd PROPERTIES
  IMPORTED_LOCATION ${ZOBREL_DEPS}/zstd-mingw/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ZOBREL_DEPS}/zstd-mingw/include)
if(NOT EXISTS ${ZOBREL_DEPS}/zstd-mingw/lib/libzstd.a)
  message(FATAL_ERROR "The Windows zstd library is missing under ${ZOBREL_DEPS}: run scripts/setup.sh")
endif()
# Static zlib: the import library libz.dll.a must not be picked.
set(ZOBREL_ZLIB_STATIC /usr/${ZOBREL_MINGW_PREFIX}/lib/libz.a)
add_library(zobrel_zlib STATIC IMPORTED)
set_target_properties(zobrel_zlib PROPERTIES IMPORTED_LOCATION ${ZOBREL_ZLIB_STATIC})

# Flags for everything that runs on Windows: static runtime, wmain entry,
# no timestamp in the PE header (packed executables are reproducible).
add_library(zobrel_windows_flags INTERFACE)
target_compile_options(zobrel_windows_flags INTERFACE -Wall -Wextra -O2)
target_compile_definitions(zobrel_windows_flags INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(zobrel_windows_flags INTERFACE -static -Wl,--no-insert-timestamp)
# Programs whose entry point is wmain (the launcher, test helpers).
add_library(zobrel_wmain INTERFACE)
target_link_options(zobrel_wmain INTERFACE -municode)

add_library(zobrel_launcher_core STATIC
  launcher/wide_buffer.cpp
  launcher/fatal.cpp
  launcher/state.cpp
  launcher/main_sequence.cpp
  pathspec/environment.cpp
  pathspec/paths.cpp
  pathspec/run_values.cpp
  pathspec/expand.cpp
  payload/header.cpp
  payload/reader.cpp
  payload/unpack.cpp
  payload/directories.cpp
  child/cmdline.cpp
  child/launch.cpp
  child/console_events.cpp
  child/child_handle.cpp)
target_include_directories(zobrel_launcher_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(zobrel_launcher_core PRIVATE -fno-exceptions)
target_link_libraries(zobrel_launcher_core PUBLIC zobrel_windows_flags zobrel_zstd zobrel_zlib shell32)

# The entry point lives apart, so that tests can link the core with their own main.
add_library(zobrel_launcher_entry STATIC launcher/entry.cpp)
target_link_libraries(zobrel_launcher_entry PUBLIC zobrel_launcher_core zobrel_wmain)

# The runtime the packer links against: a small recipe naming the tools,
# archives and flags. The packer reads it at pack time, so packing an
# application never needs a rebuild of this project.
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/runtime/zobrel-runtime.cfg CONTENT
"cxx=${CMAKE_CXX_COMPILER}
cc=${CMAKE_C_COMPILER}
windres=${CMAKE_RC_COMPILER}
libs=$<TARGET_FILE:zobrel_launcher_entry>;$<TARGET_FILE:zobrel_launcher_core>;${ZOBREL_DEPS}/zstd-mingw/lib/libzstd.a;${ZOBREL_ZLIB_STATIC}
ldflags=-municode;-static;-s;-Wl,--no-insert-timestamp;-Wl,--stack,1048576;-lshell32
")
add_custom_target(zobrel_runtime ALL DEPENDS zobrel_launcher_entry zobrel_launcher_core)

# GoogleTest, cross-built from Debian's source.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(cmake/ZobrelOnefile.cmake OPTIONAL)
add_subdirectory(examples)
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
