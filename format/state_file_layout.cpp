// state_file_layout.cpp: reads and writes the state file.
#include "state_file_layout.h"

#include <string.h>

#include <libdeflate.h>

#include "little_endian.h"

static const unsigned char STATE_MAGIC[8] = {'Z', 'O', 'B', 'S', 'T', 'A', 'T', '1'};

size_t state_file_size(uint32_t record_count)
{
    return STATE_FILE_HEADER_SIZE + STATE_FILE_ENTRY_SIZE * static_cast<size_t>(record_count) +
           STATE_FILE_TRAILER_SIZE;
}

bool check_state_file(const unsigned char *bytes, size_t size, StateFileView *view)
{
    memset(view, 0, sizeof *view);
    if (size < STATE_FILE_HEADER_SIZE + STATE_FILE_TRAILER_SIZE ||
        memcmp(bytes, STATE_MAGIC, sizeof STATE_MAGIC) != 0) {
        return false;
    }
    const uint32_t count = read_le32(bytes + 8);
    // In 64 bits, so that no count wraps round to the size at hand.
    const uint64_t expected =
        STATE_FILE_HEADER_SIZE + STATE_FILE_ENTRY_SIZE * uint64_t{count} + STATE_FILE_TRAILER_SIZE;
    if (size != expected || read_le32(bytes + size - STATE_FILE_TRAILER_SIZE) !=
                                libdeflate_crc32(0, bytes, size - STATE_FILE_TRAILER_SIZE)) {
        return false;
    }
    view->record_count = count;
    view->index_crc = read_le32(bytes + 12);
    view->entries = bytes + STATE_FILE_HEADER_SIZE;
    return true;
}

StateFileEntry state_file_entry(const StateFileView &view, uint32_t i)
{
    const unsigned char *at = view.entries + STATE_FILE_ENTRY_SIZE * static_cast<size_t>(i);
    StateFileEntry entry;
    entry.size = read_le64(at);
    entry.write_time = read_le64(at + 8);
    entry.file_id = read_le64(at + 16);
    entry.volume = read_le32(at + 24);
    return entry;
}

void put_state_file_entry(unsigned char *out, uint32_t i, const StateFileEntry &entry)
{
    unsigned char *at = out + STATE_FILE_HEADER_SIZE + STATE_FILE_ENTRY_SIZE * static_cast<size_t>(i);
    write_le64(at, entry.size);
    write_le64(at + 8, entry.write_time);
    write_le64(at + 16, entry.file_id);
    write_le32(at + 24, entry.volume);
}

void seal_state_file(unsigned char *out, uint32_t record_count, uint32_t index_crc)
{
    const size_t size = state_file_size(record_count);
    memcpy(out, STATE_MAGIC, sizeof STATE_MAGIC);
    write_le32(out + 8, record_count);
    write_le32(out + 12, index_crc);
    write_le32(out + size - STATE_FILE_TRAILER_SIZE,
               libdeflate_crc32(0, out, size - STATE_FILE_TRAILER_SIZE));
}
