// memory_file.h: a file in memory with a path, for the readers that take
// a path (the packer's commands): each input is written to it in turn.
#ifndef ZOBREL_FUZZ_MEMORY_FILE_H
#define ZOBREL_FUZZ_MEMORY_FILE_H

#include <stddef.h>

#include <filesystem>

// Makes the file hold exactly these bytes and returns its path.
std::filesystem::path memory_file_with(const unsigned char *data, size_t size);

#endif
