// state_file.cpp: fuzzes the state file's reader (check_state_file), which
// every warm start of a build that checks by metadata runs on the file it
// finds in its unpack directory, and the one writer against it.
//
// Input: one flags byte, then the file's bytes. Flag 1 repairs the trailing
// CRC-32 first, so that counts and sizes behind a valid checksum are
// reached. What the reader accepts lies within the bytes, and the writer
// lays it out again byte for byte; a file the writer makes of the input
// (its first 4 bytes as the index's CRC-32, the rest as entries) reads back
// as what was written.
#include <string.h>

#include <vector>

#include <libdeflate.h>

#include "fuzz_target.h"
#include "little_endian.h"
#include "state_file_layout.h"

// Files written here hold at most this many entries: each byte of them is
// changed in turn below.
static const size_t WRITTEN_ENTRY_LIMIT = 64;

static void check_accepted(const unsigned char *data, size_t size)
{
    StateFileView view;
    if (!check_state_file(data, size, &view)) {
        FUZZ_CHECK(view.record_count == 0 && view.index_crc == 0 && view.entries == NULL);
        return;
    }
    FUZZ_CHECK(size == state_file_size(view.record_count));
    FUZZ_CHECK(view.record_count == read_le32(data + 8) && view.index_crc == read_le32(data + 12));
    FUZZ_CHECK(view.entries == data + STATE_FILE_HEADER_SIZE);
    std::vector<unsigned char> again(size);
    for (uint32_t i = 0; i < view.record_count; i++) {
        put_state_file_entry(again.data(), i, state_file_entry(view, i));
    }
    seal_state_file(again.data(), view.record_count, view.index_crc);
    FUZZ_CHECK(memcmp(again.data(), data, size) == 0);
}

static void check_written(const unsigned char *data, size_t size)
{
    if (size < 4) {
        return;
    }
    const uint32_t index_crc = read_le32(data);
    std::vector<StateFileEntry> entries;
    for (size_t at = 4; at + STATE_FILE_ENTRY_SIZE <= size && entries.size() < WRITTEN_ENTRY_LIMIT;
         at += STATE_FILE_ENTRY_SIZE) {
        entries.push_back({read_le64(data + at), read_le64(data + at + 8), read_le64(data + at + 16),
                           read_le32(data + at + 24)});
    }
    const uint32_t count = static_cast<uint32_t>(entries.size());
    std::vector<unsigned char> file(state_file_size(count));
    for (uint32_t i = 0; i < count; i++) {
        put_state_file_entry(file.data(), i, entries[i]);
    }
    seal_state_file(file.data(), count, index_crc);
    StateFileView view;
    FUZZ_CHECK(check_state_file(file.data(), file.size(), &view));
    FUZZ_CHECK(view.record_count == count && view.index_crc == index_crc);
    for (uint32_t i = 0; i < count; i++) {
        const StateFileEntry read = state_file_entry(view, i);
        FUZZ_CHECK(read.size == entries[i].size && read.write_time == entries[i].write_time &&
                   read.file_id == entries[i].file_id && read.volume == entries[i].volume);
    }
    // Any one byte changed, one byte cut or one added: no state file.
    for (size_t at = 0; at < file.size(); at++) {
        file[at] ^= 0x20;
        FUZZ_CHECK(!check_state_file(file.data(), file.size(), &view));
        file[at] ^= 0x20;
    }
    FUZZ_CHECK(!check_state_file(file.data(), file.size() - 1, &view));
    file.push_back(0);
    FUZZ_CHECK(!check_state_file(file.data(), file.size(), &view));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    std::vector<unsigned char> bytes(data + 1, data + size);
    if ((data[0] & 1) && bytes.size() >= 4) {
        const size_t covered = bytes.size() - 4;
        write_le32(bytes.data() + covered, libdeflate_crc32(0, bytes.data(), covered));
    }
    check_accepted(bytes.data(), bytes.size());
    check_written(bytes.data(), bytes.size());
    return 0;
}
