// seed_corpus.cpp: splits packed executables into the seed inputs of every
// fuzz target: the whole file, its sections, its constants block and record
// index, its payload blob, frame and decoded archive, each in the input
// form its target reads (each target's source describes its input).
//
// usage: seed_corpus OUT_DIR PACKED.exe... [--resources-of PROGRAM.exe...]
// (writes OUT_DIR/<target>/<name>; of the programs after --resources-of,
// which need not be packed, only their resources)
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/blob_reader.h"
#include "base/error.h"
#include "build_constants.h"
#include "build_marker_layout.h"
#include "image/pe_reader.h"
#include "image/resources.h"
#include "little_endian.h"
#include "state_file_layout.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

// The flag bytes the targets read first.
const unsigned char AS_IS = 0;
const unsigned char REPAIR_OR_MAKE = 1;

void write_seed(const fs::path &out, const std::string &target, const std::string &name, const Bytes &bytes,
                int flags = -1)
{
    fs::create_directories(out / target);
    std::ofstream file(out / target / name, std::ios::binary);
    if (flags >= 0) {
        file.put(static_cast<char>(flags));
    }
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw zobrel::PackError("cannot write the seed " + (out / target / name).string());
    }
}

// The marker a start of this build would write in its folder, named here
// after the executable, and the earlier 16-byte form of the same identity.
void write_marker_seeds(const fs::path &out, const std::string &name, const BuildConstants &constants)
{
    const uint64_t identity = build_marker_identity(reinterpret_cast<const char16_t *>(constants.company),
                                                    reinterpret_cast<const char16_t *>(constants.product));
    const std::u16string folder(name.begin(), name.end());
    unsigned char marker[BUILD_MARKER_CAPACITY];
    const size_t size = write_build_marker(identity, folder.data(), folder.size(), marker, sizeof marker);
    if (size == 0) {
        throw zobrel::PackError("cannot make a build marker for " + name);
    }
    write_seed(out, "build_marker", name, Bytes(marker, marker + size));
    Bytes earlier = {'Z', 'O', 'B', 'B', 'U', 'I', 'L', 'D', 0, 0, 0, 0, 0, 0, 0, 0};
    write_le64(earlier.data() + 8, identity);
    write_seed(out, "build_marker", name + "-earlier", earlier);
}

Bytes utf16le(const std::u16string &text)
{
    Bytes bytes(2 * text.size());
    for (size_t i = 0; i < text.size(); i++) write_le16(bytes.data() + 2 * i, text[i]);
    return bytes;
}

// The placeholder_text inputs: the build's target specification, and texts
// that reach each kind of token.
void write_placeholder_seeds(const fs::path &out, const std::string &name, const BuildConstants &constants)
{
    write_seed(out, "placeholder_text", name + "-target",
               utf16le(reinterpret_cast<const char16_t *>(constants.target_spec)));
    const std::u16string crafted[] = {
        u"{UNPACK_DIR}\\bin;{ENV:Path};{env:}",
        u"a{b{COMPANY}}x}{",
        u"{HOME}\\{nope}\\{PROGRAM_DIR",
    };
    for (size_t i = 0; i < sizeof crafted / sizeof crafted[0]; i++) {
        write_seed(out, "placeholder_text", "crafted-" + std::to_string(i), utf16le(crafted[i]));
    }
}

// A state file a warm start of this build could have written: one entry
// per indexed record, the sizes from the index, the rest made up.
void write_state_seed(const fs::path &out, const std::string &name, const unsigned char *index, uint32_t size)
{
    uint32_t count = 0;
    uint32_t records_crc = 0;
    if (!check_record_index(index, size, &count, &records_crc)) {
        throw zobrel::PackError("the record index of " + name + " does not hold");
    }
    Bytes state(state_file_size(count));
    const unsigned char *at = index + RECORD_INDEX_HEADER_SIZE;
    for (uint32_t i = 0; i < count; i++) {
        IndexRecord record;
        at = next_index_record(at, &record);
        const StateFileEntry entry = {record.size, 0x01DA000000000000ull + i, 0x0001000000000000ull + i,
                                      0x5EED};
        put_state_file_entry(state.data(), i, entry);
    }
    seal_state_file(state.data(), count, records_crc);
    write_seed(out, "state_file", name, state, AS_IS);
}

Bytes decoded(const Bytes &frame)
{
    zobrel::FrameReader reader(frame.data(), frame.size());
    Bytes archive;
    unsigned char chunk[65536];
    for (size_t n; (n = reader.read(chunk, sizeof chunk)) > 0;) {
        archive.insert(archive.end(), chunk, chunk + n);
    }
    return archive;
}

// The resource_section input: the directory's address, then its bytes.
void write_resources(const fs::path &out, const fs::path &exe, const std::string &name)
{
    const std::optional<zobrel::ResourceSection> resources = zobrel::read_resource_section(exe);
    if (!resources) {
        throw zobrel::PackError(exe.string() + " has no resources");
    }
    Bytes seed(4);
    write_le32(seed.data(), resources->rva);
    seed.insert(seed.end(), resources->bytes.begin(), resources->bytes.end());
    write_seed(out, "resource_section", name, seed);
}

void split(const fs::path &out, const fs::path &exe)
{
    const std::string name = exe.stem().string();
    std::ifstream in(exe, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || file.empty()) {
        throw zobrel::PackError("cannot read " + exe.string());
    }
    write_seed(out, "pe_headers", name, file);
    write_seed(out, "pe_sections", name, file);
    write_seed(out, "packed_executable", name, file, REPAIR_OR_MAKE);

    const Bytes block = zobrel::read_section(exe, CONSTANTS_SECTION_NAME);
    write_seed(out, "constants_block", name, block, REPAIR_OR_MAKE);
    ConstantsView view;
    BuildConstants constants;
    if (check_constants_block(block.data(), block.size(), &view) != CONSTANTS_WHOLE ||
        view.values[CONSTANT_RECORD_INDEX] == nullptr ||
        decode_build_constants(block.data(), block.size(), &constants) != CONSTANTS_WHOLE) {
        throw zobrel::PackError(exe.string() + " has no whole constants block with a record index");
    }
    write_marker_seeds(out, name, constants);
    write_placeholder_seeds(out, name, constants);
    // The index's bytes as stored, header and all: the seed of its own target.
    const unsigned char *index = view.values[CONSTANT_RECORD_INDEX];
    write_seed(out, "record_index", name, Bytes(index, index + view.sizes[CONSTANT_RECORD_INDEX]),
               REPAIR_OR_MAKE);
    write_state_seed(out, name, index, view.sizes[CONSTANT_RECORD_INDEX]);

    const Bytes blob = zobrel::read_section(exe, PAYLOAD_SECTION_NAME);
    zobrel::BlobLayout layout;
    const std::string why = zobrel::check_blob(blob.data(), blob.size(), layout);
    if (!why.empty()) {
        throw zobrel::PackError(exe.string() + ": " + why);
    }
    const Bytes frame(blob.begin() + static_cast<long>(layout.frame_offset),
                      blob.begin() + static_cast<long>(layout.frame_offset + layout.frame_size));
    const Bytes archive = decoded(frame);
    write_seed(out, "payload_blob", name, blob);
    write_seed(out, "archive_stream", name + "-frame", frame, AS_IS);
    write_seed(out, "archive_stream", name + "-archive", archive, REPAIR_OR_MAKE);
    write_seed(out, "launcher_payload", name + "-blob", blob, AS_IS);
    write_seed(out, "launcher_payload", name + "-archive", archive, REPAIR_OR_MAKE);
    write_resources(out, exe, name);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: seed_corpus OUT_DIR PACKED.exe... [--resources-of PROGRAM.exe...]\n");
        return 2;
    }
    try {
        bool resources_only = false;
        for (int i = 2; i < argc; i++) {
            if (std::string(argv[i]) == "--resources-of") {
                resources_only = true;
            } else if (resources_only) {
                write_resources(argv[1], argv[i], "program-" + fs::path(argv[i]).stem().string());
            } else {
                split(argv[1], argv[i]);
            }
        }
    } catch (const zobrel::PackError &e) {
        fprintf(stderr, "seed_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
