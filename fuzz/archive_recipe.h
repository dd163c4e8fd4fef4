// archive_recipe.h: an archive described in a few bytes, for the targets
// that read archives: records of any size, made of runs of one byte (which
// zstd turns into a few bytes) or of noise (which it stores as it is), so
// that a short input reaches the readers' window and chunk boundaries,
// which lie 32 and 128 KiB apart.
#ifndef ZOBREL_FUZZ_ARCHIVE_RECIPE_H
#define ZOBREL_FUZZ_ARCHIVE_RECIPE_H

#include <stddef.h>

#include <string>

// The archive the recipe describes, written by the one archive writer.
// Each record takes 4 bytes, a b c f: its size is (a + 256 b) * 64 + f / 4;
// its content is noise seeded by c when f has bit 1, else c repeated; its
// stored checksum is wrong when f has bit 0. Records are named "f0", "f1",
// ... in order; a last group of fewer than 4 bytes is ignored. Content
// stops at 8 MiB over all records (the records after are left out).
std::string archive_from_recipe(const unsigned char *recipe, size_t size);

#endif
