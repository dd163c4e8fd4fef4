// payload_blob.cpp: copies the payload blob out of a packed launcher, for the
// benchmarks that read a blob the way the launcher does.
//
//   payload_blob LAUNCHER BLOB
//
// Finds the blob as the launcher does: the payload section, whose first
// VirtualSize bytes are the blob. Prints blob=<length>. Exit status 102 when
// there is no payload section, 103 when it does not lie within the file.
#include <stdio.h>

#include <filesystem>
#include <fstream>

#include "bench_support.h"
#include "build_constants.h"
#include "pe_sections.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fputs("usage: payload_blob LAUNCHER BLOB\n", stderr);
        return 100;
    }
    Mapped exe = map_file(argv[1]);
    if (exe.data == nullptr) return 101;
    PeFileSection payload;
    if (!find_pe_section(exe.data, exe.size, PAYLOAD_SECTION_NAME, &payload)) return 102;
    if (!pe_section_contents_fit(payload, exe.size)) return 103;
    const unsigned long long length = payload.header.virtual_size;
    std::ofstream out(std::filesystem::path(argv[2]), std::ios::binary);
    out.write(reinterpret_cast<const char *>(exe.data + payload.header.raw_offset),
              static_cast<std::streamsize>(length));
    printf("blob=%llu\n", length);
    return 0;
}
