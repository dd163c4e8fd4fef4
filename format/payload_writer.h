// payload_writer.h: writes the archive records and the payload blob that
// carries them (payload_format.h). The one writer of that layout, shared by
// the packer, the tests and the benchmarks; the launcher only reads it.
#ifndef ZOBREL_FORMAT_PAYLOAD_WRITER_H
#define ZOBREL_FORMAT_PAYLOAD_WRITER_H

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "build_constants_writer.h"

// The stored checksum of content: its CRC-32, with 0 stored as 1.
uint32_t stored_checksum_of(const void *data, size_t size);
uint32_t stored_checksum_of(const std::string &content);

// Writes an archive into a sink, record by record, keeping the record index
// of what it wrote. Each record is its header (begin_record) and then
// exactly its size in content bytes (content, in pieces of any size); a
// count that does not match is a programming error (std::logic_error).
class ArchiveWriter {
public:
    using Sink = std::function<void(const void *data, size_t size)>;
    explicit ArchiveWriter(Sink sink);

    // Writes the record's name and its 0 unit, the size and the checksum
    // stored for the content (stored_checksum_of it, or anything at all
    // for an archive damaged on purpose).
    void begin_record(const std::u16string &name, uint64_t size, uint32_t stored_checksum);
    void content(const void *data, size_t size);
    // Writes the end marker; returns the records written, in stream order.
    std::vector<IndexEntry> finish();

private:
    Sink sink_;
    std::string header_;
    uint64_t content_left_ = 0;
    std::vector<IndexEntry> records_;
};

// A record whose content is at hand.
struct ArchiveRecord {
    std::u16string name;
    std::string content;
    // Stored in place of the content's own checksum when given.
    std::optional<uint32_t> stored_checksum;
};

// The whole archive: the records in order, then the end marker.
std::string archive_bytes(const std::vector<ArchiveRecord> &records);

// Appends the blob's header ("QJY"); the frame follows it.
void append_blob_header(std::string &blob);

// Appends the padding and the length record to a blob that holds the header
// and exactly one whole frame.
void append_blob_trailer(std::string &blob);

// The blob around one frame: header, frame, padding, length record.
std::string payload_blob(const std::string &frame);

#endif
