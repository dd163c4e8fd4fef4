// stream_writer.cpp: writes the files to carry as archive records, reading ahead.
#include "archive/stream_writer.h"

#include <algorithm>
#include <fstream>

#include <libdeflate.h>

#include "archive/read_ahead.h"
#include "base/text.h"
#include "payload_format.h"
#include "payload_writer.h"

namespace zobrel {
namespace {

const size_t CHUNK = size_t{1} << 20;

}  // namespace

uint64_t archive_size(const std::vector<SourceFile> &files)
{
    uint64_t total = ARCHIVE_END_MARKER_SIZE;
    for (const SourceFile &f : files) total += archive_record_size(f.name.size(), f.size);
    return total;
}

std::vector<IndexEntry> write_archive(const std::vector<SourceFile> &files,
                                      const std::function<void(const void *, size_t)> &sink)
{
    ArchiveWriter archive(sink);
    std::vector<char> buf(CHUNK);
    // Streams the file through buf, passing each piece to `piece`; returns its CRC-32.
    auto stream = [&](const SourceFile &f, const std::function<void(const char *, size_t)> &piece) {
        std::ifstream in(f.path, std::ios::binary);
        if (!in) throw PackError("cannot read " + quoted(f.path));
        uint32_t c = 0;
        uint64_t got = 0;
        while (in) {
            in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
            size_t n = static_cast<size_t>(in.gcount());
            if (n == 0) break;
            got += n;
            if (got > f.size) throw changed_while_packing(f);
            c = libdeflate_crc32(c, buf.data(), n);
            piece(buf.data(), n);
        }
        if (in.bad()) throw PackError("cannot read " + quoted(f.path) + ": read error");
        if (got != f.size) throw changed_while_packing(f);
        return c;
    };
    ReadAhead reader(files);
    for (const SourceFile &f : files) {
        LoadedFile loaded = reader.next();
        if (loaded.whole) {
            // Read once: the checksum precedes the content in the record, and
            // what was checksummed is what is stored.
            archive.begin_record(f.name, f.size, stored_checksum(loaded.crc));
            for (size_t at = 0; at < loaded.size; at += CHUNK) {
                archive.content(loaded.buffer.data.get() + at, std::min(CHUNK, loaded.size - at));
            }
            reader.recycle(std::move(loaded.buffer));
        } else {
            // Too large to hold: a checksum pass, then the content, checked again.
            const uint32_t crc = stream(f, [](const char *, size_t) {});
            archive.begin_record(f.name, f.size, stored_checksum(crc));
            if (stream(f, [&](const char *p, size_t n) { archive.content(p, n); }) != crc) {
                throw changed_while_packing(f);
            }
        }
    }
    return archive.finish();
}

}  // namespace zobrel
