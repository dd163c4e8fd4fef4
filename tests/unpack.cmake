add_executable(unpack_probe helpers/unpack_probe.cpp)
target_link_libraries(unpack_probe PRIVATE zobrel_launcher_core zobrel_example_build_info zobrel_wmain)
# The launcher's own stack reserve, so deep folders are tried within what it has.
target_link_options(unpack_probe PRIVATE -Wl,--stack,1048576)

zobrel_add_windows_test(NAME unpack_test SOURCES unpack_test.cpp
  LIBS zobrel_launcher_core zobrel_example_build_info DEPENDS unpack_probe)
