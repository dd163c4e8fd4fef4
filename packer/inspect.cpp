// inspect.cpp: list, verify and extract: reading a packed executable's payload back.
#include "inspect.h"

#include <zlib.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "archive.h"
#include "archive_reader.h"
#include "error.h"
#include "build_constants.h"
#include "frame.h"
#include "host.h"
#include "little_endian.h"
#include "payload_format.h"
#include "pe_image.h"
#include "progress.h"
#include "text.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

struct Payload {
    std::vector<unsigned char> blob;
    BlobLayout layout;
};

Payload open_payload(const fs::path &exe)
{
    Payload p;
    p.blob = read_section(exe, PAYLOAD_SECTION_NAME);
    std::string why = check_blob(p.blob.data(), p.blob.size(), p.layout);
    if (!why.empty()) throw PackError("'" + utf8_path(exe) + "': payload damaged: " + why);
    return p;
}

// The build constants the launcher reads at start-up, checked as it checks
// them; and their record index, checked by its own CRC-32.
struct Constants {
    bool usable = false;  // what the launcher needs is there and whole
    std::string problem;  // why not, or why the index is not usable
    bool has_index = false;
    std::vector<IndexEntry> index;
};

Constants read_constants(const fs::path &exe)
{
    Constants c;
    std::vector<unsigned char> block;
    try {
        block = read_section(exe, CONSTANTS_SECTION_NAME);
    } catch (const PackError &e) {
        c.problem = e.what();
        return c;
    }
    ConstantsView view;
    if (!parse_constants_block(block.data(), block.size(), &view)) {
        c.problem = "its build constants are damaged (their layout does not hold)";
        return c;
    }
    if (crc32(0L, block.data() + CONSTANTS_CHECKED_FROM, view.total_size - CONSTANTS_CHECKED_FROM) !=
        view.stored_crc) {
        c.problem = "its build constants are damaged (their CRC-32 does not match)";
        return c;
    }
    c.usable = true;
    const unsigned char *index = view.values[CONSTANT_RECORD_INDEX];
    if (index == nullptr) {
        c.problem = "it carries no record index";
        return c;
    }
    uint32_t count = 0, records_crc = 0;
    if (!check_record_index(index, view.sizes[CONSTANT_RECORD_INDEX], &count, &records_crc) ||
        crc32(0L, index + RECORD_INDEX_HEADER_SIZE,
              view.sizes[CONSTANT_RECORD_INDEX] - RECORD_INDEX_HEADER_SIZE) != records_crc) {
        c.problem = "its record index is damaged";
        return c;
    }
    const unsigned char *at = index + RECORD_INDEX_HEADER_SIZE;
    for (uint32_t i = 0; i < count; ++i) {
        IndexRecord r;
        at = next_index_record(at, &r);
        std::u16string name;
        for (uint32_t u = 0; u < r.name_length; ++u) name.push_back(read_le16(r.name + 2 * u));
        c.index.push_back(IndexEntry{name, r.size, r.stored_checksum});
    }
    c.has_index = true;
    return c;
}

std::string shown(const std::u16string &name)
{
    std::string s;
    utf16_to_utf8(name, s);
    return s;
}

class Lister : public RecordVisitor {
public:
    explicit Lister(std::FILE *out) : out_(out) {}
    void begin(const RecordHeader &h) override
    {
        std::fprintf(out_, "%12llu  %08x  %s\n", static_cast<unsigned long long>(h.size), h.stored_checksum,
                     shown(h.name).c_str());
    }
    void content(const unsigned char *, size_t) override {}
    void end(const RecordHeader &, uint32_t) override {}

private:
    std::FILE *out_;
};

class Verifier : public RecordVisitor {
public:
    Verifier(std::string exe, const std::vector<IndexEntry> *index) : exe_(std::move(exe)), index_(index) {}
    void begin(const RecordHeader &h) override
    {
        ++count;
        bytes += h.size;
        std::string why = name_problem(h.name);
        if (!why.empty()) problem(h, why);
        if (!names.insert(h.name).second) problem(h, "the name occurs twice");
        if (index_ != nullptr) {
            if (count > index_->size()) {
                problem(h, "the record index ends before the payload does");
            } else {
                const IndexEntry &e = (*index_)[count - 1];
                if (e.name != h.name || e.size != h.size || e.stored_checksum != h.stored_checksum) {
                    problem(h, "the record index says '" + shown(e.name) + "', " + std::to_string(e.size) +
                                   " bytes, checksum " + hex(e.stored_checksum) + "; the payload says " +
                                   std::to_string(h.size) + " bytes, checksum " + hex(h.stored_checksum));
                }
            }
        }
    }
    void content(const unsigned char *, size_t) override {}
    void end(const RecordHeader &h, uint32_t crc) override
    {
        if (h.stored_checksum != stored_checksum(crc)) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "stored checksum %08x, content has CRC-32 %08x", h.stored_checksum,
                          crc);
            problem(h, buf);
        }
    }
    void problem(const RecordHeader &h, const std::string &what)
    {
        ++problems;
        std::fprintf(stderr, "zobrel-pack: '%s': record %llu '%s': %s\n", exe_.c_str(),
                     static_cast<unsigned long long>(count), shown(h.name).c_str(), what.c_str());
    }

    uint64_t count = 0, bytes = 0, problems = 0;
    std::set<std::u16string> names;

private:
    static std::string hex(uint32_t value)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", value);
        return buf;
    }

    std::string exe_;
    const std::vector<IndexEntry> *index_;
};

// Writes each file under a temporary name in its folder and gives it its
// own name only once its content matches its checksum: a damaged payload
// leaves no file that looks whole.
class Extractor : public RecordVisitor {
public:
    explicit Extractor(fs::path dir) : dir_(std::move(dir)) {}
    ~Extractor() override
    {
        if (!pending_.empty()) {
            out_.close();
            std::error_code ec;
            fs::remove(pending_, ec);
        }
    }

    void begin(const RecordHeader &h) override
    {
        std::string why = name_problem(h.name);
        std::string rel;
        if (why.empty() && !utf16_to_utf8(h.name, rel)) why = "the name is not valid UTF-16";
        if (!why.empty())
            throw PackError("refusing record '" + shown(h.name) + "': " + why + " (payload damaged?)");
        // name_problem has ruled out '/', ':', '.', '..' and empty components, so
        // each '\'-separated part is one plain component under dir.
        fs::path target = dir_;
        size_t start = 0;
        for (size_t end; (end = rel.find('\\', start)) != std::string::npos; start = end + 1) {
            target /= path_from_utf8(rel.substr(start, end - start));
            std::error_code ec;
            fs::file_status st = fs::symlink_status(target, ec);
            if (fs::is_symlink(st)) {
                throw PackError("refusing record '" + rel + "': '" + utf8_path(target) +
                                "' is a symbolic link");
            }
            if (!fs::exists(st)) fs::create_directory(target);
        }
        target /= path_from_utf8(rel.substr(start));
        path_ = target;
        pending_ = target.parent_path() / (".~zobrel-extract-" + std::to_string(current_process_id()));
        out_.open(pending_, std::ios::binary | std::ios::trunc);
        if (!out_) throw PackError("cannot create a file in '" + utf8_path(target.parent_path()) + "'");
    }
    void content(const unsigned char *p, size_t n) override
    {
        out_.write(reinterpret_cast<const char *>(p), static_cast<std::streamsize>(n));
    }
    void end(const RecordHeader &h, uint32_t crc) override
    {
        out_.close();
        if (!out_) throw PackError("cannot write '" + utf8_path(path_) + "'");
        if (h.stored_checksum != stored_checksum(crc)) {
            throw PackError("record '" + shown(h.name) +
                            "': content does not match its checksum (payload damaged)");
        }
        // A link in the file's place is replaced, never followed.
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(path_, ec))) fs::remove(path_);
        fs::rename(pending_, path_, ec);
        if (ec) throw PackError("cannot write '" + utf8_path(path_) + "': " + ec.message());
        pending_.clear();
        ++count;
    }

    uint64_t count = 0;

private:
    fs::path dir_;
    fs::path path_;
    fs::path pending_;
    std::ofstream out_;
};

}  // namespace

void run_list(const fs::path &exe, std::FILE *out)
{
    // The payload's layout is checked whole (no decoding); its records are
    // listed from the record index, which the build constants carry.
    Payload p = open_payload(exe);
    const Constants constants = read_constants(exe);
    if (constants.has_index) {
        for (const IndexEntry &e : constants.index) {
            std::fprintf(out, "%12llu  %08x  %s\n", static_cast<unsigned long long>(e.size),
                         e.stored_checksum, shown(e.name).c_str());
        }
        return;
    }
    std::fprintf(stderr, "zobrel-pack: '%s': %s; listing what the payload holds\n", utf8_path(exe).c_str(),
                 constants.problem.c_str());
    FrameReader reader(p.blob.data() + p.layout.frame_offset, p.layout.frame_size);
    Lister lister(out);
    try {
        read_archive(reader, lister);
    } catch (const PackError &e) {
        throw PackError("'" + utf8_path(exe) + "': " + e.what());
    }
}

bool run_verify(const fs::path &exe, std::FILE *out)
{
    const Constants constants = read_constants(exe);
    Verifier v(utf8_path(exe), constants.has_index ? &constants.index : nullptr);
    if (!constants.has_index) {
        ++v.problems;
        std::fprintf(stderr, "zobrel-pack: '%s': %s%s\n", utf8_path(exe).c_str(), constants.problem.c_str(),
                     constants.usable ? "" : ", so the launcher would refuse to start");
    }
    try {
        Payload p = open_payload(exe);
        FrameReader reader(p.blob.data() + p.layout.frame_offset, p.layout.frame_size);
        try {
            read_archive(reader, v);
        } catch (const PackError &e) {
            throw PackError("'" + utf8_path(exe) + "': " + e.what());
        }
        if (constants.has_index && v.count != constants.index.size()) {
            ++v.problems;
            std::fprintf(stderr, "zobrel-pack: '%s': the record index lists %s, the payload holds %llu\n",
                         utf8_path(exe).c_str(), count_of(constants.index.size(), "record").c_str(),
                         static_cast<unsigned long long>(v.count));
        }
        if (v.count == 0) {
            ++v.problems;
            std::fprintf(stderr,
                         "zobrel-pack: '%s': the archive holds no records, so there is no main binary\n",
                         utf8_path(exe).c_str());
        }
        if (v.problems == 0 && out) {
            std::fprintf(out, "%s: OK, %s, %llu bytes, payload %llu bytes\n", utf8_path(exe).c_str(),
                         count_of(v.count, "file").c_str(), static_cast<unsigned long long>(v.bytes),
                         static_cast<unsigned long long>(p.layout.length));
        }
    } catch (const PackError &e) {
        std::fprintf(stderr, "zobrel-pack: %s\n", e.what());
        return false;
    }
    return v.problems == 0;
}

void run_extract(const fs::path &exe, const fs::path &dir)
{
    Payload p = open_payload(exe);
    fs::create_directories(dir);
    FrameReader reader(p.blob.data() + p.layout.frame_offset, p.layout.frame_size);
    Extractor x(dir);
    try {
        read_archive(reader, x);
    } catch (const PackError &e) {
        throw PackError("'" + utf8_path(exe) + "': " + e.what());
    }
}

}  // namespace zobrel
