// verify.h: the verify command: is a packed executable one that starts and
// unpacks exactly the files packed into it.
#ifndef ZOBREL_PACKER_INSPECT_VERIFY_H
#define ZOBREL_PACKER_INSPECT_VERIFY_H

#include <cstdio>
#include <filesystem>

namespace zobrel {

// Reads the executable into its model and checks everything the Windows
// loader and the launcher need (packed_payload.h: read_packed, then
// check_archive, which decodes everything), and the header checksum.
// Prints each warning and each problem to stderr; returns true only when
// there is no problem (then prints a one-line confirmation to out unless
// out is null). Warnings (a cut signature, a damaged length record, no
// usable record index, a checksum that does not match) do not fail it.
bool run_verify(const std::filesystem::path &exe, std::FILE *out);

}  // namespace zobrel

#endif
