// launcher_payload.cpp: fuzzes the launcher's own payload reader, built for
// the host: the header check (check_payload_header), the stream reader's
// window (payload_read), the record walk (read_record_name,
// read_record_fields) and the end check (payload_expect_end), driven
// through an archive as the unpacker drives them on a first start, where
// every file is written and checked. What the launcher accepts is compared
// with the packer's reader of the same blob (check_blob, read_archive) and,
// for a blob this target made, with the archive itself (archive_model.h).
//
// Input: one flags byte, then the rest. Flag 1: the rest is an archive,
// compressed into a blob here (flags 2 and 8 as compress_frame takes
// them); with flag 4 too, the rest is a recipe of the archive
// (archive_recipe.h), so that large records are within reach. Otherwise
// the rest is the blob itself.
//
// The unpacker (payload/unpack.cpp) creates and writes files through Win32,
// which the host has not: the content of each record is read and checked
// here as it would write it.
#include <string.h>

#include <string>
#include <vector>

#include <libdeflate.h>

#include "archive/blob_reader.h"
#include "archive/reader.h"
#include "archive_model.h"
#include "archive_name.h"
#include "archive_recipe.h"
#include "base/error.h"
#include "capacities.h"
#include "fuzz_target.h"
#include "little_endian.h"
#include "payload/header.h"
#include "payload/reader.h"
#include "payload/records.h"
#include "payload_format.h"
#include "payload_writer.h"
#include "zstd_frame.h"

// Content beyond this, over all records, is not read: no verdict then.
static const uint64_t CONTENT_LIMIT = uint64_t{1} << 24;

struct ContentLimitReached {};

static unsigned char g_chunk[CONTENT_CHUNK_SIZE];
static wchar_t g_name[RECORD_NAME_CAPACITY];

// Whether the unpacker would go on: the reads succeed and what they read holds.
enum class Launcher { READS, REFUSES, TOO_LONG };

// The unpacker's reads of one record, its name already read through the
// launcher's record walk: the name rule, the fields (read_record_fields),
// then the content as a first start writes it, checked as it goes.
static Launcher launcher_reads_record(PayloadReader *reader, const wchar_t *name, size_t length,
                                      uint64_t &content, SeenRecord &record)
{
    // The host's wchar_t is wider than the launcher's: the units, narrowed.
    record.name.clear();
    for (size_t i = 0; i < length; i++) {
        record.name.push_back(static_cast<char16_t>(name[i]));
    }
    if (archive_name_problem(record.name.data(), record.name.size()) != NULL) {
        return Launcher::REFUSES;
    }
    if (failed(read_record_fields(reader, &record.size, &record.stored_checksum))) {
        return Launcher::REFUSES;
    }
    uint32_t crc = 0;
    for (uint64_t left = record.size; left > 0;) {
        const size_t chunk = left < CONTENT_CHUNK_SIZE ? static_cast<size_t>(left) : CONTENT_CHUNK_SIZE;
        content += chunk;
        if (content > CONTENT_LIMIT) {
            return Launcher::TOO_LONG;
        }
        if (failed(payload_read(reader, g_chunk, chunk))) {
            return Launcher::REFUSES;
        }
        crc = libdeflate_crc32(crc, g_chunk, chunk);
        left -= chunk;
    }
    record.crc = crc;
    return stored_checksum(crc) == record.stored_checksum ? Launcher::READS : Launcher::REFUSES;
}

// The launcher's first start over the blob: READS when it would run the
// application, with the records it wrote.
static Launcher launcher_reads(const unsigned char *blob, size_t length, std::vector<SeenRecord> &records)
{
    records.clear();
    PayloadInput input;
    if (failed(check_payload_header(blob, length, &input))) {
        return Launcher::REFUSES;
    }
    PayloadReader reader;
    memset(&reader, 0, sizeof reader);
    Launcher verdict = Launcher::REFUSES;
    uint64_t content = 0;
    if (!failed(payload_open(&reader, input))) {
        for (;;) {
            size_t name_length = 0;
            if (failed(read_record_name(&reader, g_name, &name_length))) {
                break;
            }
            if (name_length == 0) {
                verdict = failed(payload_expect_end(&reader)) ? Launcher::REFUSES : Launcher::READS;
                break;
            }
            SeenRecord record;
            verdict = launcher_reads_record(&reader, g_name, name_length, content, record);
            if (verdict != Launcher::READS) {
                break;
            }
            records.push_back(record);
        }
    }
    payload_close(&reader);
    return verdict;
}

class Recorder : public zobrel::RecordVisitor {
public:
    void begin(const zobrel::RecordHeader &) override {}
    void content(const unsigned char *, size_t size) override
    {
        content_ += size;
        if (content_ > CONTENT_LIMIT) {
            throw ContentLimitReached();
        }
    }
    void end(const zobrel::RecordHeader &header, uint32_t crc) override
    {
        SeenRecord record;
        record.name = header.name;
        record.size = header.size;
        record.stored_checksum = header.stored_checksum;
        record.crc = crc;
        records.push_back(record);
    }

    std::vector<SeenRecord> records;

private:
    uint64_t content_ = 0;
};

// The packer's reading of the blob's archive, when its layout holds: true
// when it reads to the end, with the records it read.
static bool packer_reads(const unsigned char *blob, size_t length, bool &layout_holds,
                         std::vector<SeenRecord> &records)
{
    zobrel::BlobLayout layout;
    layout_holds = zobrel::check_blob(blob, length, layout).empty();
    if (!layout_holds) {
        return false;
    }
    std::vector<unsigned char> frame(blob + layout.frame_offset,
                                     blob + layout.frame_offset + layout.frame_size);
    Recorder recorder;
    try {
        zobrel::FrameReader reader(frame.data(), frame.size());
        zobrel::read_archive(reader, recorder);
    } catch (const zobrel::PackError &) {
        return false;
    }
    records = recorder.records;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const bool made_here = data[0] & 1;
    std::string archive;
    if (made_here && (data[0] & 4)) {
        archive = archive_from_recipe(data + 1, size - 1);
    } else {
        archive.assign(reinterpret_cast<const char *>(data + 1), size - 1);
    }
    const unsigned char *rest = reinterpret_cast<const unsigned char *>(archive.data());
    const size_t rest_size = archive.size();
    std::vector<unsigned char> blob;
    if (made_here) {
        const std::string made = payload_blob(compress_frame(rest, rest_size, data[0]));
        blob.assign(made.begin(), made.end());
    } else {
        blob.assign(rest, rest + rest_size);
    }
    // The launcher reads a payload section at least as long as the header.
    if (blob.size() < PAYLOAD_HEADER_SIZE) {
        return 0;
    }
    std::vector<SeenRecord> launcher_records;
    std::vector<SeenRecord> packer_records;
    bool layout_holds = false;
    bool packer_accepts = false;
    const Launcher launcher = launcher_reads(blob.data(), blob.size(), launcher_records);
    if (launcher == Launcher::TOO_LONG) {
        return 0;
    }
    const bool launcher_accepts = launcher == Launcher::READS;
    try {
        packer_accepts = packer_reads(blob.data(), blob.size(), layout_holds, packer_records);
    } catch (const ContentLimitReached &) {
        return 0;
    }

    // What verify passes, the launcher runs, over the same files.
    if (packer_accepts && launcher_would_accept(packer_records)) {
        FUZZ_CHECK(launcher_accepts);
    }
    // Within a blob whose layout holds, the launcher reads what the packer reads.
    if (launcher_accepts && layout_holds) {
        FUZZ_CHECK(packer_accepts && packer_records == launcher_records);
    }
    // A blob made here holds exactly the archive given.
    if (made_here) {
        std::vector<SeenRecord> model;
        const bool whole = parse_archive_model(rest, rest_size, model);
        FUZZ_CHECK(launcher_accepts == (whole && launcher_would_accept(model)));
        FUZZ_CHECK(!launcher_accepts || launcher_records == model);
        FUZZ_CHECK(packer_accepts == whole);
        FUZZ_CHECK(!packer_accepts || packer_records == model);
    }
    return 0;
}
