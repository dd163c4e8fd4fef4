// packed_payload.h: a packed executable read into a model as the Windows
// loader and the launcher see it, and checked: what list, verify, extract
// and info read. The loader maps the image (load_check.h); the launcher
// finds its two sections by name in what was mapped, takes the payload
// section's VirtualSize for the blob's length, checks the constants block
// and decodes the frame after the blob's header.
#ifndef ZOBREL_PACKER_INSPECT_PACKED_PAYLOAD_H
#define ZOBREL_PACKER_INSPECT_PACKED_PAYLOAD_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/blob_reader.h"
#include "archive/reader.h"
#include "build_constants.h"
#include "build_constants_writer.h"
#include "image/pe_reader.h"

namespace zobrel {

// The build constants the launcher reads at start-up, checked by the same
// code (build_constants.h); and their record index, checked likewise.
struct Constants {
    bool usable = false;  // what the launcher needs is there and whole
    std::string problem;  // why not, or why the index is not usable
    bool has_index = false;
    std::vector<IndexEntry> index;
    // When usable: the bytes of each key's value (build_constants.h) that the
    // block holds; a key it does not hold is absent.
    std::map<uint32_t, std::string> values;

    bool has(ConstantKey key) const { return values.count(key) != 0; }
    // A text constant's units without its closing 0 unit ("" when absent).
    std::u16string text(ConstantKey key) const;
    // A u32 constant, or `absent` when the block has none of 4 bytes.
    uint32_t number(ConstantKey key, uint32_t absent) const;
    // Whether the block holds the key as a u32, as the launcher takes it.
    bool has_number(ConstantKey key) const
    {
        auto found = values.find(key);
        return found != values.end() && found->second.size() == 4;
    }
};

// A damaged block is said in `problem`, which does not name the file; a
// file without the block's section, or one that cannot be read, is a
// PackError that names it.
Constants read_constants(const std::filesystem::path &exe);

// A packed executable as read, with what its reading found.
struct PackedFile {
    std::filesystem::path path;
    PeImage image;
    Constants constants;
    // The payload section's bytes as mapped (the blob), and where its frame
    // lies; frame_found when the launcher would find a frame to decode.
    std::vector<unsigned char> blob;
    BlobLayout layout;
    bool frame_found = false;
    // Complete messages, each naming the file. Problems: the executable
    // would not start, or would not unpack exactly the packed files.
    // Warnings: faults the loader and the launcher do not need absent.
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
};

// Reads and checks everything but the archive inside the frame: the image as
// the loader needs it, both sections where the launcher finds them, the
// constants as the launcher checks them, the blob's header and frame (its
// padding and length record, which the launcher never reads, only warned
// about), and the record index (missing or damaged: a warning, since the
// launcher then unpacks from the stream; names some Windows takes for one
// file, or a file and a folder of one name: a problem). Throws PackError
// only when the file cannot be read at all.
PackedFile read_packed(const std::filesystem::path &exe);

// Decodes the archive and checks it record by record, adding to the file's
// problems: each name by the archive-name rule, any two names some Windows
// takes for one file (or a file and a folder of one name), each content
// against its stored checksum, the stream against the record index, the end
// marker ending the frame, at least one record. Needs frame_found. Returns
// the number of records; *bytes (if given) receives their content's size.
uint64_t check_archive(PackedFile &file, uint64_t *bytes = nullptr);

// Compares the file's launcher part (launcher_identity.h) with the launcher
// its constants say it was made from, when they are usable: a difference is
// a problem, naming the launcher and where it differs; a launcher this
// zobrel-pack does not carry (or none named) cannot be compared and is a
// warning, "its launcher code was not checked". Reads as many bytes of the
// file as that launcher has.
void check_launcher(PackedFile &file);

// Warns (in file.warnings) when the optional header's checksum, if set, is
// not the file's own: the file changed after it was written. Reads the file
// whole.
void check_file_checksum(PackedFile &file);

// Decodes the archive of a file whose frame was found, telling visitor
// about each record (read_archive); returns the number of records. A
// damaged archive ends in a PackError that names the file.
uint64_t read_payload_archive(const PackedFile &file, RecordVisitor &visitor);

// A record name as UTF-8 for display (an unpaired surrogate shown as U+FFFD).
std::string shown(const std::u16string &name);

}  // namespace zobrel

#endif
