// list.h: the list command: a packed executable's files, one line each.
#ifndef ZOBREL_PACKER_INSPECT_LIST_H
#define ZOBREL_PACKER_INSPECT_LIST_H

#include <cstdio>
#include <filesystem>

namespace zobrel {

// Prints one line per record, in archive order: size, stored CRC-32 (hex),
// name, read from the record index without decoding the payload (whose
// layout is still checked); from the payload itself when there is no usable
// index, saying so on stderr. Throws PackError if the file is not a packed
// executable or its payload is damaged; lines already printed stay.
void run_list(const std::filesystem::path &exe, std::FILE *out);

}  // namespace zobrel

#endif
