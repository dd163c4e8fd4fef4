# The CRC-32 the launcher computes against zlib's.
zobrel_add_windows_test(NAME crc_test SOURCES crc_test.cpp LIBS zobrel_libdeflate)
