# Host build: the packer and its tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# The launcher runtime the packer links by default: the runtime/ folder of a
# Windows build of this tree (scripts/build.sh passes it).
set(ZOBREL_RUNTIME_DIR "" CACHE PATH "Default launcher runtime folder (a Windows build's runtime/)")

add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_subdirectory(packer)
