// support.h: fixtures shared by the packer tests: temp folders, fake PE files,
// hand-made payloads, and running zobrel-pack as a separate process.
#ifndef ZOBREL_PACKER_TESTS_SUPPORT_H
#define ZOBREL_PACKER_TESTS_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zt {

namespace fs = std::filesystem;

// A fresh folder under the temp directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &path() const { return path_; }
    fs::path operator/(const std::string &rel) const { return path_ / rel; }

private:
    fs::path path_;
};

void write_file(const fs::path &p, const std::string &bytes);
std::string read_file(const fs::path &p);

struct FakeSection {
    std::string name;
    std::string data;
};

// A minimal PE32+ file: DOS header, PE signature, file header with the given
// characteristics (by default an executable image), optional header with the
// given subsystem, and the sections' raw data, laid out as a linker would
// (alignments, sizes, the entry point in the first section), so that an
// image with sections passes the loader's checks (load_check.h).
std::string make_pe(uint16_t machine, uint16_t subsystem, const std::vector<FakeSection> &sections = {},
                    uint16_t characteristics = 0x0022);

// Archive bytes for (name, content) records, by the shared archive writer,
// with checksums as the packer stores them unless stored_crcs gives them
// explicitly; then the end marker.
std::string make_archive(const std::vector<std::pair<std::u16string, std::string>> &records,
                         const std::vector<uint32_t> &stored_crcs = {});

// A build constants block with example product strings and a record index
// of the archive's own records, as the packer's reader reads them back (so
// the two agree).
std::string make_constants(const std::string &archive);

// A payload blob over archive bytes, made by the packer's own writer.
std::string make_blob(const std::string &archive, int level = 3, bool checksum = false);

struct PackRun {
    int status = -1;
    std::string out, err;
};

// Runs zobrel-pack with args and extra "NAME=value" environment entries.
// obey_permissions takes from a root child its power to read any file (by
// dropping CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, else by becoming nobody).
PackRun run_pack(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                 bool obey_permissions = false);

}  // namespace zt

#endif
