// The launcher's CRC-32 (libdeflate's) is zlib's CRC-32, the one the archive
// stores: over every length from 0 to 4,096 at unaligned starts, over a few
// large buffers, and when computed in pieces.
#include <gtest/gtest.h>

#include <libdeflate.h>
#include <zlib.h>

#include <string>

#include "blob_builder.h"

namespace {

uint32_t zlib_crc(const unsigned char *data, size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt piece = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
        crc = crc32(crc, data, piece);
        data += piece;
        size -= piece;
    }
    return static_cast<uint32_t>(crc);
}

TEST(Crc32, EqualsZlibsForEveryLengthToFourKibibytesAtEveryAlignment)
{
    const std::string bytes = random_bytes(4096 + 16, 11);
    const unsigned char *base = reinterpret_cast<const unsigned char *>(bytes.data());
    for (size_t start = 0; start < 8; start++) {
        for (size_t length = 0; length <= 4096; length++) {
            ASSERT_EQ(libdeflate_crc32(0, base + start, length), zlib_crc(base + start, length))
                << "start " << start << ", length " << length;
        }
    }
}

TEST(Crc32, EqualsZlibsOnLargeBuffersAndInPieces)
{
    for (size_t size : {size_t{1} << 20, (size_t{1} << 20) + 3, size_t{48} << 20}) {
        const std::string bytes = random_bytes(size + 1, static_cast<uint32_t>(size));
        const unsigned char *data = reinterpret_cast<const unsigned char *>(bytes.data()) + 1;  // unaligned
        const uint32_t whole = zlib_crc(data, size);
        EXPECT_EQ(libdeflate_crc32(0, data, size), whole) << size;
        // Chained over uneven pieces, as a file read in chunks is.
        uint32_t chained = 0;
        for (size_t at = 0, piece = 1; at < size; at += piece, piece = piece * 3 + 7) {
            chained = libdeflate_crc32(chained, data + at, std::min(piece, size - at));
        }
        EXPECT_EQ(chained, whole) << size;
    }
    // Content whose CRC-32 is 0: the value the archive stores as 1.
    const unsigned char crc_zero[4] = {0x9d, 0x0a, 0xd9, 0x6d};
    EXPECT_EQ(libdeflate_crc32(0, crc_zero, 4), 0u);
}

}  // namespace
