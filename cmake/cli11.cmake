# CLI11, the packer's argument parser: header-only, from Debian's
# libcli11-dev. Its headers are copied into the build tree so that the
# Windows build can use them without seeing the rest of the host's
# /usr/include.
find_path(ZOBREL_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT ZOBREL_CLI11_INCLUDE)
  message(FATAL_ERROR "CLI11 (CLI/CLI.hpp) is missing: run scripts/setup.sh (Debian package libcli11-dev)")
endif()
file(COPY ${ZOBREL_CLI11_INCLUDE}/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11)
add_library(zobrel_cli11 INTERFACE)
target_include_directories(zobrel_cli11 SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11)
