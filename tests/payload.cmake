# The payload header check and stream reader: in-process reads against a model
# of the decode window, fatal ends through a probe process.
add_executable(payload_probe helpers/payload_probe.cpp)
target_link_libraries(payload_probe PRIVATE zobrel_launcher_core zobrel_example_build_info zobrel_wmain)
target_link_options(payload_probe PRIVATE -Wl,--wrap=ZSTD_createDCtx)

zobrel_add_windows_test(NAME payload_reader_test SOURCES payload_reader_test.cpp
  LIBS zobrel_launcher_core zobrel_example_build_info DEPENDS payload_probe)
# Damaged payloads, replayed as saved (Wine maps / to Z:).
target_compile_definitions(payload_reader_test PRIVATE
  ZOBREL_PAYLOAD_FIXTURES="Z:${CMAKE_CURRENT_SOURCE_DIR}/fixtures/payload")
# Every decoder call the reader makes goes through the test's wrapper.
target_link_options(payload_reader_test PRIVATE -Wl,--wrap=ZSTD_decompressStream)
