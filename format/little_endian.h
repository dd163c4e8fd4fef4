// little_endian.h: the one set of little-endian reads and writes that every
// reader and writer of the payload and image formats uses, on both sides.
// Byte by byte, so alignment and the host's own byte order never matter.
#ifndef ZOBREL_FORMAT_LITTLE_ENDIAN_H
#define ZOBREL_FORMAT_LITTLE_ENDIAN_H

#include <stdint.h>

inline uint16_t read_le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t read_le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t read_le64(const unsigned char *p)
{
    return static_cast<uint64_t>(read_le32(p)) | (static_cast<uint64_t>(read_le32(p + 4)) << 32);
}

inline void write_le16(unsigned char *p, uint16_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

inline void write_le32(unsigned char *p, uint32_t value)
{
    for (int i = 0; i < 4; i++) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

inline void write_le64(unsigned char *p, uint64_t value)
{
    write_le32(p, static_cast<uint32_t>(value));
    write_le32(p + 4, static_cast<uint32_t>(value >> 32));
}

#endif
