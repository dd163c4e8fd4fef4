# The third-party libraries, each built from Debian's upstream source archive
# by its own build system (zstd's and libdeflate's Makefiles, zlib's
# configure), with this build's compiler, into this build tree (deps/). Each
# becomes an interface target that the folders link: zobrel_zstd,
# zobrel_zstd_decoder (Windows only), zobrel_libdeflate, zobrel_zlib.
#
# The archives are read from ZOBREL_SOURCE_CACHE, where scripts/setup.sh
# fetches them; cmake/debian-sources.txt names each with its SHA-256, which is
# checked before anything is unpacked. A second build finds every library
# built and does not touch it.
include(ExternalProject)

set(ZOBREL_SOURCE_CACHE "${PROJECT_SOURCE_DIR}/.cache/debian-sources" CACHE PATH
    "Folder of Debian's source archives of the dependencies (scripts/setup.sh fetches them)")
cmake_host_system_information(RESULT zobrel_cores QUERY NUMBER_OF_LOGICAL_CORES)
set(ZOBREL_DEPS_JOBS ${zobrel_cores} CACHE STRING "Parallel jobs of each dependency's own build")
find_program(ZOBREL_MAKE NAMES gmake make REQUIRED)
set(ZOBREL_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian-sources.txt zobrel_source_lines REGEX "^[a-z]")
foreach(line IN LISTS zobrel_source_lines)
  string(REGEX MATCHALL "[^ \t]+" fields "${line}")
  list(GET fields 0 package)
  list(GET fields 1 ZOBREL_SOURCE_${package}_ARCHIVE)
  list(GET fields 2 ZOBREL_SOURCE_${package}_SHA256)
endforeach()

# zobrel_add_dependency(TARGET target SOURCE package LIBRARY name BUILT file
#                       HEADERS files... [CONFIGURE command...] BUILD command...
#                       [LINK libraries...])
# Unpacks the source package's archive, runs CONFIGURE and BUILD in its
# source folder, copies BUILT (relative to the source folder) to
# deps/<target>/lib/lib<name>.a and HEADERS to deps/<target>/include, and
# makes the interface target <target> that links them.
function(zobrel_add_dependency)
  cmake_parse_arguments(D "" "TARGET;SOURCE;LIBRARY;BUILT" "CONFIGURE;BUILD;HEADERS;LINK" ${ARGN})
  set(archive "${ZOBREL_SOURCE_CACHE}/${ZOBREL_SOURCE_${D_SOURCE}_ARCHIVE}")
  if(NOT EXISTS "${archive}")
    message(FATAL_ERROR "${archive} is missing: run scripts/setup.sh, which fetches Debian's ${D_SOURCE} "
                        "source package into ZOBREL_SOURCE_CACHE")
  endif()
  set(prefix ${ZOBREL_DEPS_DIR}/${D_TARGET})
  set(library ${prefix}/lib/lib${D_LIBRARY}.a)
  # Files that did not change keep their time, so nothing that uses them is
  # built again; they are all named as made here, so that a build that
  # installs them anew also compiles anew what includes them.
  set(install_command ${CMAKE_COMMAND} -E make_directory ${prefix}/lib ${prefix}/include
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${D_BUILT} ${library}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${D_HEADERS} ${prefix}/include)
  set(installed ${library})
  foreach(header IN LISTS D_HEADERS)
    get_filename_component(name ${header} NAME)
    list(APPEND installed ${prefix}/include/${name})
  endforeach()
  ExternalProject_Add(${D_TARGET}_build
    URL "${archive}"
    URL_HASH SHA256=${ZOBREL_SOURCE_${D_SOURCE}_SHA256}
    DOWNLOAD_EXTRACT_TIMESTAMP TRUE
    PREFIX ${ZOBREL_DEPS_DIR}/build/${D_TARGET}
    BUILD_IN_SOURCE TRUE
    CONFIGURE_COMMAND "${D_CONFIGURE}"
    BUILD_COMMAND ${D_BUILD}
    INSTALL_COMMAND ${install_command}
    BUILD_BYPRODUCTS ${installed}
    LOG_CONFIGURE TRUE LOG_BUILD TRUE LOG_INSTALL TRUE LOG_OUTPUT_ON_FAILURE TRUE)
  # The include folder must exist before it is made, to be named at all.
  file(MAKE_DIRECTORY ${prefix}/include)
  add_library(${D_TARGET} INTERFACE)
  target_include_directories(${D_TARGET} SYSTEM INTERFACE ${prefix}/include)
  target_link_libraries(${D_TARGET} INTERFACE ${library} ${D_LINK})
  add_dependencies(${D_TARGET} ${D_TARGET}_build)
endfunction()

# The compiler and archiver as the libraries' own builds take them, and
# flags they add to their own (each Makefile has its way of taking them).
set(zobrel_cc CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR})
set(zobrel_make ${ZOBREL_MAKE} -j${ZOBREL_DEPS_JOBS})
set(ZOBREL_DEPS_C_FLAGS "" CACHE STRING
    "More C compiler flags for the dependencies' own builds, such as -fsanitize=address")
set(zobrel_zstd_flags "")
set(zobrel_libdeflate_flags "")
set(zobrel_zlib_flags "")
if(ZOBREL_DEPS_C_FLAGS)
  list(JOIN ZOBREL_DEPS_C_FLAGS " " flags)
  set(zobrel_zstd_flags "MOREFLAGS=${flags}")
  set(zobrel_libdeflate_flags "CFLAGS=-O2 ${flags}")
  set(zobrel_zlib_flags "CFLAGS=-O3 ${flags}")
endif()
if(NOT WIN32)
  find_package(Threads REQUIRED)
  set(zobrel_threads Threads::Threads)
endif()

# zstd, the whole library, multi-threaded: for the packers and the tests.
# Every packer compresses with this same code and these same flags, so they
# all write the same bytes. A build of the launchers alone
# (ZOBREL_LAUNCHERS_ONLY, the ARM64 one) needs only the decoder and libdeflate.
set(zobrel_zstd_headers lib/zstd.h lib/zstd_errors.h lib/zdict.h)
if(NOT ZOBREL_LAUNCHERS_ONLY)
  zobrel_add_dependency(TARGET zobrel_zstd SOURCE libzstd LIBRARY zstd BUILT lib/libzstd.a HEADERS ${zobrel_zstd_headers}
    BUILD ${zobrel_make} -C lib ${zobrel_cc} ${zobrel_zstd_flags} libzstd.a-mt-release
    LINK ${zobrel_threads})
endif()
if(WIN32)
  # For the launcher: a decoder alone, without the legacy formats.
  zobrel_add_dependency(TARGET zobrel_zstd_decoder SOURCE libzstd LIBRARY zstd BUILT lib/libzstd.a HEADERS ${zobrel_zstd_headers}
    BUILD ${zobrel_make} -C lib ${zobrel_cc} libzstd.a-nomt-release
          ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0)
endif()

# libdeflate, for its carry-less-multiply CRC-32 (the CRC-32 zlib computes,
# at memory speed). Its Makefile names the static library after the target.
if(WIN32)
  set(zobrel_libdeflate_built libdeflatestatic.lib)
else()
  set(zobrel_libdeflate_built libdeflate.a)
endif()
zobrel_add_dependency(TARGET zobrel_libdeflate SOURCE libdeflate LIBRARY deflate BUILT ${zobrel_libdeflate_built} HEADERS libdeflate.h
  BUILD ${zobrel_make} ${zobrel_cc} ${zobrel_libdeflate_flags} ${zobrel_libdeflate_built})

if(ZOBREL_LAUNCHERS_ONLY)
  return()
endif()

# zlib, static. Its configure treats a MinGW compiler named without CHOST
# as any other and makes the portable static library.
zobrel_add_dependency(TARGET zobrel_zlib SOURCE zlib LIBRARY z BUILT libz.a HEADERS zlib.h zconf.h
  CONFIGURE ${CMAKE_COMMAND} -E env ${zobrel_cc} ${zobrel_zlib_flags} ./configure --static
  BUILD ${zobrel_make} libz.a)
