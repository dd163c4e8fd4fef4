// inspect.cpp: list, verify and extract: reading a packed executable's payload back.
#include "inspect.h"

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
    explicit Verifier(std::string exe) : exe_(std::move(exe)) {}
    void begin(const RecordHeader &h) override
    {
        ++count;
        bytes += h.size;
        std::string why = name_problem(h.name);
        if (!why.empty()) problem(h, why);
        if (!names.insert(h.name).second) problem(h, "the name occurs twice");
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
    std::string exe_;
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
    Payload p = open_payload(exe);
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
    Verifier v(utf8_path(exe));
    try {
        Payload p = open_payload(exe);
        FrameReader reader(p.blob.data() + p.layout.frame_offset, p.layout.frame_size);
        try {
            read_archive(reader, v);
        } catch (const PackError &e) {
            throw PackError("'" + utf8_path(exe) + "': " + e.what());
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
