// payload_blob.cpp: fuzzes the packer's payload blob check (check_blob):
// header, length record, frame header and window, frame size, padding; and
// the frame reader (FrameReader) over a frame it accepts. An accepted
// layout must account for every byte of the blob.
#include <vector>

#include "archive/blob_reader.h"
#include "base/error.h"
#include "fuzz_target.h"
#include "payload_format.h"

// Decoding stops here: a frame of a few bytes may stand for gigabytes.
static const uint64_t DECODE_LIMIT = uint64_t{1} << 24;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zobrel::BlobLayout layout;
    if (!zobrel::check_blob(data, size, layout).empty()) {
        return 0;
    }
    FUZZ_CHECK(layout.length == size);
    FUZZ_CHECK(layout.frame_offset == PAYLOAD_HEADER_SIZE);
    FUZZ_CHECK(layout.padding < PAYLOAD_LENGTH_RECORD_ALIGNMENT);
    FUZZ_CHECK(layout.frame_offset + layout.frame_size + layout.padding + PAYLOAD_LENGTH_RECORD_SIZE == size);
    FUZZ_CHECK((layout.length - PAYLOAD_LENGTH_RECORD_SIZE) % PAYLOAD_LENGTH_RECORD_ALIGNMENT == 0);

    // The frame alone, in a buffer of its own size, so that a read past it is seen.
    std::vector<unsigned char> frame(data + layout.frame_offset,
                                     data + layout.frame_offset + layout.frame_size);
    std::vector<unsigned char> window(DECODE_WINDOW_SIZE);
    try {
        zobrel::FrameReader reader(frame.data(), frame.size());
        for (uint64_t decoded = 0; decoded < DECODE_LIMIT;) {
            const size_t n = reader.read(window.data(), window.size());
            FUZZ_CHECK(n <= window.size());
            if (n < window.size()) {
                // The frame has ended: nothing more comes.
                FUZZ_CHECK(reader.read(window.data(), window.size()) == 0);
                break;
            }
            decoded += n;
        }
    } catch (const zobrel::PackError &) {
    }
    return 0;
}
