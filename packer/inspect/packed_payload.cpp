// packed_payload.cpp: reads a packed executable into its model and checks it as the loader and the launcher
// would.
#include "inspect/packed_payload.h"

#include <algorithm>
#include <fstream>

#include "archive/names.h"
#include "base/error.h"
#include "base/progress.h"
#include "base/text.h"
#include "build_constants.h"
#include "image/launcher_identity.h"
#include "image/load_check.h"
#include "image/pe_writer.h"
#include "payload_format.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

Constants constants_of_block(const std::vector<unsigned char> &block)
{
    Constants c;
    BuildConstants decoded;
    switch (decode_build_constants(block.data(), block.size(), &decoded)) {
    case CONSTANTS_LAYOUT_BROKEN:
        c.problem = "its build constants are damaged (their layout does not hold)";
        return c;
    case CONSTANTS_CRC_MISMATCH:
        c.problem = "its build constants are damaged (their CRC-32 does not match)";
        return c;
    case CONSTANTS_WHOLE:
        break;
    }
    c.usable = true;
    c.values = owned_build_constants(decoded);
    if (decoded.record_index_damaged) {
        c.problem = "its record index is damaged";
    } else if (decoded.record_index == nullptr) {
        c.problem = "it carries no record index";
    } else {
        c.has_index = true;
    }
    return c;
}

// The launcher's own files this build writes beside the application's, by
// what its constants ask for, as the launcher reads them.
std::vector<std::u16string> launcher_files_of(const Constants &c)
{
    return launcher_files(c.values.warm_check == WARM_CHECK_METADATA, c.values.keep_builds.has_value());
}

// Why the names clash, as a message naming the file and both names (a
// position from names.size() on is one of the launcher's own files).
std::string clash_problem(const std::string &file, const char *where,
                          const std::vector<std::u16string> &names,
                          const std::vector<std::u16string> &launcher_files, const NameClash &clash)
{
    const std::string a = "'" + shown(names[clash.first]) + "'";
    if (clash.kind == NAME_CLASH_SHORT_NAME) {
        const bool launchers = clash.second >= names.size();
        const std::u16string &gets =
            launchers ? launcher_files[clash.second - names.size()] : names[clash.second];
        const std::string why = short_name_reason(names[clash.first], gets, clash.component, launchers);
        if (launchers) return file + ": " + where + " " + a + ": " + why;
        return file + ": " + where + " both " + a + " and '" + shown(gets) + "': " + why;
    }
    const std::string b = "'" + shown(names[clash.second]) + "'";
    if (clash.kind == NAME_CLASH_FILE_AND_FOLDER) {
        return file + ": " + where + " the file " + a + " and " + b +
               ": on Windows a file and a folder cannot share a name";
    }
    if (names[clash.first] == names[clash.second]) return file + ": " + where + " the name " + a + " twice";
    return file + ": " + where + " both " + a + " and " + b + ", which some Windows takes for one file";
}

void read_constants_section(PackedFile &f, const PeSection &section, const std::string &file)
{
    f.constants = constants_of_block(read_mapped_section(f.path, f.image, section));
    const Constants &c = f.constants;
    if (!c.usable) {
        f.problems.push_back(file + ": " + c.problem + ", so the launcher would not start");
    } else if (!c.has_index) {
        f.warnings.push_back(file + ": " + c.problem +
                             "; the launcher then decodes the payload at every start to check the files");
    } else {
        std::vector<std::u16string> names;
        for (const IndexEntry &e : c.values.records) names.push_back(e.name);
        const std::vector<std::u16string> own = launcher_files_of(c);
        const NameClash clash = find_clash(names, own);
        if (clash.kind != NAME_CLASH_NONE)
            f.problems.push_back(clash_problem(file, "the record index lists", names, own, clash));
    }
}

// The file's first `size` bytes, or all of them when it is shorter.
std::string file_start(const fs::path &path, uint64_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    if (in.bad()) throw PackError("cannot read " + quoted(path));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

void read_payload_section(PackedFile &f, const PeSection &section, const std::string &file)
{
    f.blob = read_mapped_section(f.path, f.image, section);
    std::string why = check_frame_placement(f.blob.data(), f.blob.size(), f.layout);
    if (!why.empty()) {
        f.problems.push_back(file + ": payload damaged: " + why);
        return;
    }
    f.frame_found = true;
    why = check_blob_trailer(f.blob.data(), f.layout);
    if (!why.empty()) f.warnings.push_back(file + ": " + why + "; the launcher does not read it");
}

class ArchiveChecker : public RecordVisitor {
public:
    ArchiveChecker(PackedFile &file) : file_(file), name_(quoted(file.path)) {}
    void begin(const RecordHeader &h) override
    {
        ++count;
        bytes += h.size;
        names.push_back(h.name);
        std::string why = name_problem(h.name);
        if (!why.empty()) problem(h, why);
        const Constants &c = file_.constants;
        if (!c.has_index) return;
        if (count > c.values.records.size()) {
            problem(h, "the record index ends before the payload does");
            return;
        }
        const IndexEntry &e = c.values.records[count - 1];
        if (e.name != h.name || e.size != h.size || e.stored_checksum != h.stored_checksum) {
            problem(h, "the record index says '" + shown(e.name) + "', " + std::to_string(e.size) +
                           " bytes, checksum " + hex(e.stored_checksum) + "; the payload says " +
                           std::to_string(h.size) + " bytes, checksum " + hex(h.stored_checksum));
        }
    }
    void content(const unsigned char *p, size_t n) override
    {
        // The main program's headers, which lie in its first 64 KiB.
        if (count == 1 && main_head_.size() < HEADERS_ROOM) {
            main_head_.insert(main_head_.end(), p, p + std::min(n, HEADERS_ROOM - main_head_.size()));
        }
    }
    void end(const RecordHeader &h, uint32_t crc) override
    {
        if (h.stored_checksum != stored_checksum(crc)) {
            problem(h, "stored checksum " + hex(h.stored_checksum) + ", content has CRC-32 " + hex(crc));
        } else if (count == 1) {
            check_main_program(h);
        }
    }

    uint64_t count = 0, bytes = 0;
    std::vector<std::u16string> names;

private:
    static constexpr size_t HEADERS_ROOM = 65536;

    // The launcher starts the first record: one Windows would not start as
    // a program fails every start ("Bad EXE format" and the like), as build
    // refuses it.
    void check_main_program(const RecordHeader &h)
    {
        PeImage image;
        const std::string why = parse_pe_headers(main_head_.data(), main_head_.size(), image);
        if (!why.empty()) {
            problem(h, "the main program is not a Windows executable (" + why + ")");
            return;
        }
        image.file_size = h.size;
        const ProgramCheck check = check_program(image);
        if (check.problem != ProgramProblem::none) problem(h, "the main program " + check.why);
    }

    void problem(const RecordHeader &h, const std::string &what)
    {
        file_.problems.push_back(name_ + ": record " + std::to_string(count) + " '" + shown(h.name) +
                                 "': " + what);
    }

    static std::string hex(uint32_t value)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", value);
        return buf;
    }

    PackedFile &file_;
    std::string name_;
    std::vector<unsigned char> main_head_;
};

}  // namespace

PackedFile read_packed(const fs::path &exe)
{
    PackedFile f;
    f.path = exe;
    const std::string file = quoted(exe);
    std::string why = read_pe_headers(exe, f.image);
    if (!why.empty()) {
        f.problems.push_back(file + " is not a packed executable: " + why);
        return f;
    }
    const LoadCheck load = check_loadable(f.image);
    for (const std::string &p : load.problems) f.problems.push_back(file + ": " + p);
    for (const std::string &w : load.warnings) f.warnings.push_back(file + ": " + w);
    const PeSection *payload = find_section(f.image, PAYLOAD_SECTION_NAME);
    const PeSection *constants = find_section(f.image, CONSTANTS_SECTION_NAME);
    for (const auto &[section, name] :
         {std::pair{payload, PAYLOAD_SECTION_NAME}, {constants, CONSTANTS_SECTION_NAME}}) {
        if (section == nullptr)
            f.problems.push_back(file + " is not a packed executable: it has no " + name + " section");
    }
    for (const auto &[section, name] :
         {std::pair{payload, PAYLOAD_SECTION_NAME}, {constants, CONSTANTS_SECTION_NAME}}) {
        if (section != nullptr && zero_fill_too_large(*section))
            f.problems.push_back(file + ": its " + name + " section is mapped " +
                                 std::to_string(section->virtual_size - section->raw_size) +
                                 " bytes larger than it is stored, which no packer writes");
    }
    // A section cut short or mapped far larger has already been reported:
    // only what the file holds is read.
    try {
        if (constants != nullptr) read_constants_section(f, *constants, file);
    } catch (const PackError &) {
    }
    try {
        if (payload != nullptr) read_payload_section(f, *payload, file);
    } catch (const PackError &) {
    }
    return f;
}

Constants read_constants(const fs::path &exe)
{
    return constants_of_block(read_section(exe, CONSTANTS_SECTION_NAME));
}

uint64_t read_payload_archive(const PackedFile &file, RecordVisitor &visitor)
{
    FrameReader reader(file.blob.data() + file.layout.frame_offset, file.layout.frame_size);
    try {
        return read_archive(reader, visitor);
    } catch (const PackError &e) {
        throw PackError(quoted(file.path) + ": " + e.what());
    }
}

uint64_t check_archive(PackedFile &file, uint64_t *bytes)
{
    ArchiveChecker checker(file);
    try {
        read_payload_archive(file, checker);
    } catch (const PackError &e) {
        file.problems.push_back(e.what());
        return checker.count;
    }
    const std::string name = quoted(file.path);
    const Constants &c = file.constants;
    if (c.has_index && checker.count != c.values.records.size()) {
        file.problems.push_back(name + ": the record index lists " +
                                count_of(c.values.records.size(), "record") + ", the payload holds " +
                                std::to_string(checker.count));
    }
    if (checker.count == 0) {
        file.problems.push_back(name + ": the archive holds no records, so there is no main binary");
    }
    const std::vector<std::u16string> own = launcher_files_of(c);
    const NameClash clash = find_clash(checker.names, own);
    if (clash.kind != NAME_CLASH_NONE)
        file.problems.push_back(clash_problem(name, "the payload holds", checker.names, own, clash));
    if (bytes) *bytes = checker.bytes;
    return checker.count;
}

void check_launcher(PackedFile &f)
{
    const Constants &c = f.constants;
    if (!c.usable) return;
    const std::string file = quoted(f.path);
    const std::optional<std::string> &stamp = c.values.launcher;
    const CarriedLauncher *launcher = stamp ? carried_launcher_of(*stamp) : nullptr;
    if (launcher == nullptr) {
        f.warnings.push_back(
            file + ": its launcher code was not checked: " +
            (!stamp
                 ? "it does not name the launcher it was made from (made by an older zobrel-pack, or by hand)"
                 : "it was made from a launcher this zobrel-pack does not carry (another version's)"));
        return;
    }
    const std::string image = launcher->image();
    const std::string why = launcher_part_difference(file_start(f.path, image.size()), image);
    if (!why.empty()) {
        f.problems.push_back(file + ": its launcher is not the " + launcher->name +
                             " launcher it was made from: " + why);
    }
}

void check_file_checksum(PackedFile &file)
{
    if (file.image.checksum == 0) return;
    const uint32_t actual =
        pe_file_checksum(file.path, file.image.optional_header_offset + pe32plus::CHECK_SUM);
    if (actual != file.image.checksum) {
        file.warnings.push_back(quoted(file.path) +
                                ": its header checksum does not match its bytes: it was changed after it was "
                                "written (damage, or a tool that did not update the checksum)");
    }
}

std::string shown(const std::u16string &name)
{
    std::string s;
    utf16_to_utf8(name, s);
    return s;
}

}  // namespace zobrel
