// stream_writer.h: the files to carry written as the archive's record stream.
#ifndef ZOBREL_PACKER_ARCHIVE_STREAM_WRITER_H
#define ZOBREL_PACKER_ARCHIVE_STREAM_WRITER_H

#include <cstdint>
#include <functional>
#include <vector>

#include "archive/scan.h"
#include "build_constants_writer.h"

namespace zobrel {

// Bytes of the whole decoded archive for these files, end marker included.
uint64_t archive_size(const std::vector<SourceFile> &files);

// Streams the archive for files into sink in pieces of about 1 MiB, through
// the shared archive writer (payload_writer.h), reading ahead on a thread of
// its own; returns its records as written (name, size, stored checksum), in
// stream order. Throws PackError if a file cannot be read or changed since
// the scan.
std::vector<IndexEntry> write_archive(const std::vector<SourceFile> &files,
                                      const std::function<void(const void *, size_t)> &sink);

}  // namespace zobrel

#endif
