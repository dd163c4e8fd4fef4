// inspect.h: the list, verify and extract commands on a packed executable.
#ifndef ZOBREL_PACKER_INSPECT_H
#define ZOBREL_PACKER_INSPECT_H

#include <cstdio>
#include <filesystem>

namespace zobrel {

// Prints one line per record, in archive order: size, stored CRC-32 (hex),
// name, read from the record index without decoding the payload (whose
// layout is still checked); from the payload itself when there is no usable
// index, saying so on stderr. Throws PackError if the file is not a packed
// executable or its payload is damaged; lines already printed stay.
void run_list(const std::filesystem::path &exe, std::FILE *out);

// Decodes everything and checks the header, padding, length record, names
// and every checksum, the build constants as the launcher checks them, and
// that the record index and the payload agree record for record. Prints each problem to stderr; returns true
// only if all hold (then prints a one-line confirmation to out unless out is null).
bool run_verify(const std::filesystem::path &exe, std::FILE *out);

// Writes every record's file under dir (created if missing). Refuses any
// name that could reach outside dir or through a symbolic link, and any
// record whose content does not match its checksum. Throws PackError.
void run_extract(const std::filesystem::path &exe, const std::filesystem::path &dir);

}  // namespace zobrel

#endif
