// reader.h: walks the records of a decoded archive, for list, verify and extract.
#ifndef ZOBREL_PACKER_ARCHIVE_READER_H
#define ZOBREL_PACKER_ARCHIVE_READER_H

#include <cstdint>
#include <string>

#include "archive/blob_reader.h"

namespace zobrel {

struct RecordHeader {
    std::u16string name;
    uint64_t size = 0;
    uint32_t stored_checksum = 0;
};

// Told about each record as the stream passes it.
class RecordVisitor {
public:
    virtual ~RecordVisitor() = default;
    virtual void begin(const RecordHeader &header) = 0;
    virtual void content(const unsigned char *data, size_t size) = 0;
    // crc is the CRC-32 of the content as decoded.
    virtual void end(const RecordHeader &header, uint32_t crc) = 0;
};

// Reads records until the end marker and makes sure nothing follows it.
// Returns the number of records. Throws PackError if the stream ends inside
// a record, a name runs past 1023 units, or data follows the end marker.
// Names are passed on unchecked: judging them is the visitor's business.
uint64_t read_archive(FrameReader &reader, RecordVisitor &visitor);

}  // namespace zobrel

#endif
