// archive_stream.cpp: fuzzes the packer's archive stream reader
// (read_archive over a FrameReader), which list, verify and extract read
// every packed file through. Whatever the bytes, it must accept exactly the
// frames whose output is one archive (archive_model.h), and report the
// same records, content checksums included.
//
// Input: one flags byte, then the rest. Flag 1: the rest is the archive,
// compressed into a frame here (flags 2 and 8 as compress_frame takes
// them), so that the records' layout is what varies; with flag 4 too, the
// rest is a recipe of the archive (archive_recipe.h), so that large records
// are within reach. Otherwise the rest is the frame.
#include <string>
#include <vector>

#include "archive/blob_reader.h"
#include "archive/reader.h"
#include "archive_model.h"
#include "archive_recipe.h"
#include "base/error.h"
#include "fuzz_target.h"
#include "zstd_frame.h"

// A frame that decodes to more than this is not judged.
static const uint64_t DECODE_LIMIT = uint64_t{1} << 24;

class Recorder : public zobrel::RecordVisitor {
public:
    void begin(const zobrel::RecordHeader &) override
    {
        FUZZ_CHECK(!open_);
        open_ = true;
        content_seen_ = 0;
    }
    void content(const unsigned char *data, size_t size) override
    {
        FUZZ_CHECK(open_ && size > 0 && data != nullptr);
        content_seen_ += size;
    }
    void end(const zobrel::RecordHeader &header, uint32_t crc) override
    {
        FUZZ_CHECK(open_ && content_seen_ == header.size);
        open_ = false;
        SeenRecord record;
        record.name = header.name;
        record.size = header.size;
        record.stored_checksum = header.stored_checksum;
        record.crc = crc;
        records.push_back(record);
    }

    std::vector<SeenRecord> records;

private:
    bool open_ = false;
    uint64_t content_seen_ = 0;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const unsigned char *rest = data + 1;
    const size_t rest_size = size - 1;
    std::vector<unsigned char> frame;
    std::string archive;
    bool decodes = true;
    if (data[0] & 1) {
        if (data[0] & 4) {
            archive = archive_from_recipe(rest, rest_size);
        } else {
            archive.assign(reinterpret_cast<const char *>(rest), rest_size);
        }
        const std::string made =
            compress_frame(reinterpret_cast<const unsigned char *>(archive.data()), archive.size(), data[0]);
        frame.assign(made.begin(), made.end());
    } else {
        frame.assign(rest, rest + rest_size);
        switch (decode_frame(frame.data(), frame.size(), DECODE_LIMIT, archive)) {
        case FRAME_DECODED:
            break;
        case FRAME_DAMAGED:
            decodes = false;
            break;
        case FRAME_TOO_LONG:
            return 0;
        }
    }
    std::vector<SeenRecord> model;
    const bool expected =
        decodes &&
        parse_archive_model(reinterpret_cast<const unsigned char *>(archive.data()), archive.size(), model);

    Recorder recorder;
    bool read = false;
    uint64_t count = 0;
    try {
        zobrel::FrameReader reader(frame.data(), frame.size());
        count = zobrel::read_archive(reader, recorder);
        read = true;
    } catch (const zobrel::PackError &) {
    }
    FUZZ_CHECK(read == expected);
    if (read) {
        FUZZ_CHECK(count == recorder.records.size());
        FUZZ_CHECK(recorder.records == model);
    }
    return 0;
}
