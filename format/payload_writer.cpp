// payload_writer.cpp: writes archive records and wraps a frame as a payload blob.
#include "payload_writer.h"

#include <stdexcept>

#include <libdeflate.h>

#include "little_endian.h"
#include "payload_format.h"

uint32_t stored_checksum_of(const void *data, size_t size)
{
    return stored_checksum(libdeflate_crc32(0, data, size));
}

uint32_t stored_checksum_of(const std::string &content)
{
    return stored_checksum_of(content.data(), content.size());
}

ArchiveWriter::ArchiveWriter(Sink sink) : sink_(std::move(sink)) {}

void ArchiveWriter::begin_record(const std::u16string &name, uint64_t size, uint32_t stored_checksum)
{
    if (content_left_ != 0)
        throw std::logic_error("archive record begun before the last one's content ended");
    unsigned char bytes[RECORD_FIXED_SIZE];
    header_.clear();
    for (char16_t unit : name) {
        write_le16(bytes, unit);
        header_.append(reinterpret_cast<const char *>(bytes), 2);
    }
    header_.append(2, '\0');
    write_le64(bytes, size);
    write_le32(bytes + 8, stored_checksum);
    header_.append(reinterpret_cast<const char *>(bytes), RECORD_FIXED_SIZE);
    sink_(header_.data(), header_.size());
    content_left_ = size;
    records_.push_back(IndexEntry{name, size, stored_checksum});
}

void ArchiveWriter::content(const void *data, size_t size)
{
    if (size > content_left_) throw std::logic_error("archive record content longer than its size");
    content_left_ -= size;
    sink_(data, size);
}

std::vector<IndexEntry> ArchiveWriter::finish()
{
    if (content_left_ != 0) throw std::logic_error("archive ended inside a record's content");
    const unsigned char end_marker[ARCHIVE_END_MARKER_SIZE] = {0, 0};
    sink_(end_marker, sizeof end_marker);
    return std::move(records_);
}

std::string archive_bytes(const std::vector<ArchiveRecord> &records)
{
    std::string archive;
    ArchiveWriter writer(
        [&archive](const void *data, size_t size) { archive.append(static_cast<const char *>(data), size); });
    for (const ArchiveRecord &r : records) {
        writer.begin_record(r.name, r.content.size(),
                            r.stored_checksum ? *r.stored_checksum : stored_checksum_of(r.content));
        writer.content(r.content.data(), r.content.size());
    }
    writer.finish();
    return archive;
}

void append_blob_header(std::string &blob)
{
    blob.append(reinterpret_cast<const char *>(PAYLOAD_MAGIC), PAYLOAD_HEADER_SIZE);
}

void append_blob_trailer(std::string &blob)
{
    blob.append(static_cast<size_t>(payload_padding(blob.size() - PAYLOAD_HEADER_SIZE)), '\0');
    unsigned char record[PAYLOAD_LENGTH_RECORD_SIZE];
    write_le64(record, blob.size());
    blob.append(reinterpret_cast<const char *>(record), sizeof record);
}

std::string payload_blob(const std::string &frame)
{
    std::string blob;
    append_blob_header(blob);
    blob += frame;
    append_blob_trailer(blob);
    return blob;
}
