// extract.h: the extract command: a packed executable's files written to a folder.
#ifndef ZOBREL_PACKER_INSPECT_EXTRACT_H
#define ZOBREL_PACKER_INSPECT_EXTRACT_H

#include <filesystem>

namespace zobrel {

// Writes every record's file under dir (created if missing). First checks
// the executable as verify does (decoding everything) and refuses, writing
// nothing, where verify would fail. Refuses any name that could reach
// outside dir or through a symbolic link, and any record whose content does
// not match its checksum. Throws PackError.
void run_extract(const std::filesystem::path &exe, const std::filesystem::path &dir);

}  // namespace zobrel

#endif
