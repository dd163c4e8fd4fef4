# The payload header check and stream reader, in this process: reads against
# a model of the decode window, damaged payloads and the failures they give.
zobrel_add_windows_test(NAME payload_reader_test SOURCES payload_reader_test.cpp
  LIBS zobrel_launcher_core zobrel_heap_watch)
# Damaged payloads, replayed as saved (Wine maps / to Z:).
target_compile_definitions(payload_reader_test PRIVATE
  ZOBREL_PAYLOAD_FIXTURES="Z:${CMAKE_CURRENT_SOURCE_DIR}/fixtures/payload")
# Every decoder call the reader makes goes through the test's wrappers, and
# so does the making of its decoder context.
target_link_options(payload_reader_test PRIVATE -Wl,--wrap=ZSTD_decompressStream -Wl,--wrap=ZSTD_createDCtx)
