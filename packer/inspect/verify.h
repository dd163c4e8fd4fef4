// verify.h: the verify command: everything in a packed executable decoded and checked.
#ifndef ZOBREL_PACKER_INSPECT_VERIFY_H
#define ZOBREL_PACKER_INSPECT_VERIFY_H

#include <cstdio>
#include <filesystem>

namespace zobrel {

// Decodes everything and checks the header, padding, length record, names
// and every checksum, the build constants as the launcher checks them, and
// that the record index and the payload agree record for record. Prints
// each problem to stderr; returns true only if all hold (then prints a
// one-line confirmation to out unless out is null).
bool run_verify(const std::filesystem::path &exe, std::FILE *out);

}  // namespace zobrel

#endif
