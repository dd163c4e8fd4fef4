// fnv1a.h: 64-bit FNV-1a over UTF-16 units, the hash the launcher names its
// unpack locks and its products' build markers with. Not a defence against
// anyone: two texts that collide only share a lock or a product's tidy.
#ifndef ZOBREL_FORMAT_FNV1A_H
#define ZOBREL_FORMAT_FNV1A_H

#include <stdint.h>

static const uint64_t FNV1A_START = 14695981039346656037ull;

// The hash after one more unit.
inline uint64_t fnv1a_unit(uint64_t hash, uint16_t unit)
{
    return (hash ^ unit) * 1099511628211ull;
}

#endif
