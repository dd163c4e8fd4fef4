// list.h: the list command: a packed executable's files, one line each.
#ifndef ZOBREL_PACKER_INSPECT_LIST_H
#define ZOBREL_PACKER_INSPECT_LIST_H

#include <cstdio>
#include <filesystem>

namespace zobrel {

// Prints one line per record, in archive order: size, stored CRC-32 (hex),
// name, read from the record index without decoding the payload; from the
// payload itself when there is no usable index, saying so on stderr. Reads
// and checks the executable as verify does but for the frame's content
// (read_packed), and warns on stderr about each problem found: verify would
// fail. Throws PackError if nothing can be listed (then the problems are
// printed as such) or the payload is damaged; lines already printed stay.
void run_list(const std::filesystem::path &exe, std::FILE *out);

}  // namespace zobrel

#endif
