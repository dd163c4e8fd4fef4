// scan.h: the application folder as the list of files to carry, main binary
// first, every name checked against what Windows and the launcher accept.
#ifndef ZOBREL_PACKER_ARCHIVE_SCAN_H
#define ZOBREL_PACKER_ARCHIVE_SCAN_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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

class Exclusions;

// The path with every backslash made a slash: a backslash is never part of a
// Windows name, so a path typed the Windows way means the same on any host.
std::string windows_separators_as_slashes(std::string path);

// Scans app_dir and puts main_rel ('/' or '\' separated) first. What
// exclusions (if given) leave out is neither read nor checked. Throws
// PackError, naming the path, for anything the launcher could not carry or
// unpack: a missing or outside main binary, unusable names, links leading
// out of the folder or nowhere, special files, unreadable files, files of
// 4 GiB or more, two names some Windows could take for one file, a file
// and a folder of one name, or a name that could be the short name Windows
// gives another in its folder, or one of launcher_files, the launcher's own
// files in the top folder (find_clashes), naming both. Every file refused
// is named, a line each (the first 20, then how many more), so that one
// run shows them all. A file that is the output being built (same file as
// output, if that exists) is left out with a warning, so that packing into
// the application folder does not swallow the previous build.
ScanResult scan_app_dir(const std::filesystem::path &app_dir, const std::string &main_rel,
                        const std::filesystem::path &output = {}, Exclusions *exclusions = nullptr,
                        const std::vector<std::u16string> &launcher_files = {});

}  // namespace zobrel

#endif
