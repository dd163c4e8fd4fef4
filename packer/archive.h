// archive.h: the application folder as archive records: scanning, name rules,
// and writing the record stream.
#ifndef ZOBREL_PACKER_ARCHIVE_H
#define ZOBREL_PACKER_ARCHIVE_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "build_constants_writer.h"

namespace zobrel {

// One file to carry.
struct SourceFile {
    std::string rel;             // relative path, '/'-separated UTF-8, as scanned
    std::u16string name;         // archive name: UTF-16, '\'-separated
    std::filesystem::path path;  // where to read it (a link inside the folder is read through)
    uint64_t size = 0;
};

struct ScanResult {
    std::vector<SourceFile> files;      // main binary first, then sorted byte-wise by rel
    std::vector<std::string> warnings;  // things left out (empty folders)
};

// Scans app_dir and puts main_rel first. Throws PackError, naming the path,
// for anything the launcher could not carry or unpack: a missing or outside
// main binary, unusable names, links leading out of the folder or nowhere,
// special files, unreadable files, files of 4 GiB or more, names that only
// differ in letter case. A file that is the output being built (same file
// as output, if that exists) is left out with a warning, so that packing into
// the application folder does not swallow the previous build.
ScanResult scan_app_dir(const std::filesystem::path &app_dir, const std::string &main_rel,
                        const std::filesystem::path &output = {});

// Why a record name cannot be unpacked on Windows, or "" when it can: the
// shared archive-name rule (archive_name.h), with the length in the message.
std::string name_problem(const std::u16string &name);

// True when Windows takes the name component for a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, whatever the extension), so it can name no file.
bool reserved_device_name(const std::u16string &component);

// Bytes of the whole decoded archive for these files, end marker included.
uint64_t archive_size(const std::vector<SourceFile> &files);

// Streams the archive for files into sink in pieces of about 1 MiB and
// returns its records as written (name, size, stored checksum), in stream
// order. Throws PackError if a file cannot be read or changed since the scan.
std::vector<IndexEntry> write_archive(const std::vector<SourceFile> &files,
                                      const std::function<void(const void *, size_t)> &sink);

}  // namespace zobrel

#endif
