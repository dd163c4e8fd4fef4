// inspect.cpp: list, verify and extract: reading a packed executable's payload back.
#include "inspect.h"

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "archive.h"
#include "archive_reader.h"
#include "error.h"
#include "frame.h"
#include "payload_format.h"
#include "pe_image.h"
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
    p.blob = read_payload_section(exe);
    std::string why = check_blob(p.blob.data(), p.blob.size(), p.layout);
    if (!why.empty()) throw PackError("'" + exe.string() + "': payload damaged: " + why);
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
        std::fprintf(stderr, "zobrel-pack: record %llu '%s': %s\n", static_cast<unsigned long long>(count),
                     shown(h.name).c_str(), what.c_str());
    }

    uint64_t count = 0, bytes = 0, problems = 0;
    std::set<std::u16string> names;
};

class Extractor : public RecordVisitor {
public:
    explicit Extractor(fs::path dir) : dir_(std::move(dir)) {}

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
            target /= rel.substr(start, end - start);
            std::error_code ec;
            fs::file_status st = fs::symlink_status(target, ec);
            if (fs::is_symlink(st)) {
                throw PackError("refusing record '" + rel + "': '" + target.string() +
                                "' is a symbolic link");
            }
            if (!fs::exists(st)) fs::create_directory(target);
        }
        target /= rel.substr(start);
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(target, ec))) fs::remove(target);
        path_ = target;
        out_.open(target, std::ios::binary | std::ios::trunc);
        if (!out_) throw PackError("cannot create '" + target.string() + "'");
    }
    void content(const unsigned char *p, size_t n) override
    {
        out_.write(reinterpret_cast<const char *>(p), static_cast<std::streamsize>(n));
    }
    void end(const RecordHeader &h, uint32_t crc) override
    {
        out_.close();
        if (!out_) throw PackError("cannot write '" + path_.string() + "'");
        if (h.stored_checksum != stored_checksum(crc)) {
            fs::remove(path_);
            throw PackError("record '" + shown(h.name) +
                            "': content does not match its checksum (payload damaged)");
        }
        ++count;
    }

    uint64_t count = 0;

private:
    fs::path dir_;
    fs::path path_;
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
        throw PackError("'" + exe.string() + "': " + e.what());
    }
}

bool run_verify(const fs::path &exe, std::FILE *out)
{
    Verifier v;
    try {
        Payload p = open_payload(exe);
        FrameReader reader(p.blob.data() + p.layout.frame_offset, p.layout.frame_size);
        read_archive(reader, v);
        if (v.count == 0) {
            ++v.problems;
            std::fprintf(stderr, "zobrel-pack: the archive holds no records, so there is no main binary\n");
        }
        if (v.problems == 0 && out) {
            std::fprintf(out, "%s: OK, %llu files, %llu bytes, payload %llu bytes\n", exe.string().c_str(),
                         static_cast<unsigned long long>(v.count), static_cast<unsigned long long>(v.bytes),
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
        throw PackError("'" + exe.string() + "': " + e.what());
    }
}

}  // namespace zobrel
