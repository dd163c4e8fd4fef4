# Host build: the packer and its tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# Where the packer finds the launcher runtime by default: the Windows build
# made from this same tree.
set(ZOBREL_RUNTIME_DIR "${CMAKE_BINARY_DIR}/../win/runtime" CACHE PATH
    "Launcher runtime directory (the Windows build's runtime/ folder)")

add_subdirectory(${ZOBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_subdirectory(packer)
