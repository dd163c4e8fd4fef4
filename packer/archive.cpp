// archive.cpp: scans the application folder into records and writes the record stream.
#include "archive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include <zlib.h>

#include "error.h"
#include "archive_name.h"
#include "little_endian.h"
#include "payload_format.h"
#include "text.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

const uint64_t kMaxFileSize = uint64_t{1} << 32;
const size_t kChunk = size_t{1} << 20;

std::string quoted(const fs::path &p)
{
    return "'" + p.string() + "'";
}

bool is_inside(const fs::path &root, const fs::path &p)
{
    auto r = root.begin(), q = p.begin();
    for (; r != root.end(); ++r, ++q) {
        if (q == p.end() || *r != *q) return false;
    }
    return true;
}

// Windows compares names without regard to case. This folds the letters the
// upcase table maps in the Latin, Greek and Cyrillic blocks, which is where
// nearly all real clashes come from.
std::u16string fold_case(const std::u16string &s)
{
    std::u16string out = s;
    for (char16_t &c : out) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
            (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
            c = static_cast<char16_t>(c - 0x20);
        } else if (c >= 0x450 && c <= 0x45F) {
            c = static_cast<char16_t>(c - 0x50);
        }
    }
    return out;
}

struct Walker {
    fs::path root;  // canonical
    fs::path output;
    std::vector<SourceFile> files;
    std::vector<std::string> warnings;

    [[noreturn]] void refuse(const std::string &what) { throw PackError(what); }

    void add_file(const fs::path &path, const std::string &rel, uint64_t size)
    {
        std::u16string name;
        if (!utf8_to_utf16(rel, name)) {
            refuse("cannot carry " + quoted(path) + ": its name is not valid UTF-8; rename it");
        }
        // A backslash in a Linux name would turn into a separator on Windows.
        std::string why = name.find(u'\\') != std::u16string::npos
                              ? "the name holds one of the characters Windows forbids in names: \\"
                              : "";
        std::replace(name.begin(), name.end(), u'/', u'\\');
        if (why.empty()) why = name_problem(name);
        if (!why.empty()) {
            refuse("cannot carry " + quoted(path) + ": " + why + "; rename it or move it out of the folder");
        }
        if (size >= kMaxFileSize) {
            refuse("cannot carry " + quoted(path) + ": files of 4 GiB or more are not supported");
        }
        int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            refuse("cannot read " + quoted(path) + ": " + std::strerror(errno) +
                   "; make it readable or move it out of the folder");
        }
        ::close(fd);
        files.push_back(SourceFile{rel, name, path, size});
    }

    void walk(const fs::path &dir, const std::string &rel, std::set<fs::path> &ancestors)
    {
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec) refuse("cannot read folder " + quoted(dir) + ": " + ec.message());
        std::vector<fs::directory_entry> entries;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            entries.push_back(*it);
        }
        if (ec) refuse("cannot read folder " + quoted(dir) + ": " + ec.message());
        if (entries.empty() && !rel.empty()) {
            warnings.push_back(
                "empty folder " + quoted(dir) +
                " cannot be carried (the archive holds files only); it will not exist after unpacking");
        }
        for (const fs::directory_entry &e : entries) {
            const fs::path p = e.path();
            const std::string child_rel =
                rel.empty() ? p.filename().string() : rel + "/" + p.filename().string();
            fs::file_status st = fs::symlink_status(p, ec);
            if (ec) refuse("cannot read " + quoted(p) + ": " + ec.message());
            fs::path real = p;
            if (fs::is_symlink(st)) {
                real = fs::canonical(p, ec);
                if (ec) refuse("symbolic link " + quoted(p) + " leads nowhere; fix or remove it");
                if (!is_inside(root, real)) {
                    refuse("symbolic link " + quoted(p) + " leads outside the application folder (to " +
                           quoted(real) + "); copy the file into the folder instead");
                }
                st = fs::status(p, ec);
                if (ec) refuse("cannot read " + quoted(p) + ": " + ec.message());
            }
            if (fs::is_directory(st)) {
                fs::path key = fs::canonical(p, ec);
                if (ec) refuse("cannot read folder " + quoted(p) + ": " + ec.message());
                if (ancestors.count(key)) {
                    refuse("symbolic link " + quoted(p) +
                           " leads back into a folder that contains it; remove the loop");
                }
                ancestors.insert(key);
                walk(p, child_rel, ancestors);
                ancestors.erase(key);
            } else if (fs::is_regular_file(st)) {
                uint64_t size = fs::file_size(p, ec);
                if (ec) refuse("cannot read " + quoted(p) + ": " + ec.message());
                if (!output.empty() && fs::equivalent(p, output, ec)) {
                    warnings.push_back("leaving out " + quoted(p) + ": it is the output being built");
                    continue;
                }
                add_file(p, child_rel, size);
            } else {
                refuse("cannot carry " + quoted(p) + ": it is not a regular file, folder or link to one");
            }
        }
    }
};

void check_case_clashes(const std::vector<SourceFile> &files)
{
    std::map<std::u16string, const SourceFile *> by_name;
    std::map<std::u16string, const SourceFile *> by_dir;
    for (const SourceFile &f : files) {
        std::u16string folded = fold_case(f.name);
        auto [it, fresh] = by_name.emplace(folded, &f);
        if (!fresh) {
            throw PackError("cannot carry both '" + it->second->rel + "' and '" + f.rel +
                            "': Windows does not tell their names apart; rename one");
        }
        for (size_t pos = folded.find(u'\\'); pos != std::u16string::npos;
             pos = folded.find(u'\\', pos + 1)) {
            by_dir.emplace(folded.substr(0, pos), &f);
        }
    }
    for (const auto &[folded, f] : by_name) {
        auto d = by_dir.find(folded);
        if (d != by_dir.end()) {
            throw PackError("cannot carry both the file '" + f->rel + "' and '" + d->second->rel +
                            "': on Windows a file and a folder cannot share a name; rename one");
        }
    }
}

void put_u16(std::vector<unsigned char> &b, char16_t v)
{
    unsigned char bytes[2];
    write_le16(bytes, v);
    b.insert(b.end(), bytes, bytes + 2);
}

void put_u32(std::vector<unsigned char> &b, uint32_t v)
{
    unsigned char bytes[4];
    write_le32(bytes, v);
    b.insert(b.end(), bytes, bytes + 4);
}

void put_u64(std::vector<unsigned char> &b, uint64_t v)
{
    unsigned char bytes[8];
    write_le64(bytes, v);
    b.insert(b.end(), bytes, bytes + 8);
}

}  // namespace

bool reserved_device_name(const std::u16string &component)
{
    return is_device_name(component.data(), component.size());
}

// Any depth is fine: the launcher climbs folder levels in one buffer, so only
// the whole path's length limits it (checked with the target specification).
std::string name_problem(const std::u16string &name)
{
    if (name.size() > RECORD_NAME_CAPACITY - 1) {
        return "the name is " + std::to_string(name.size()) + " UTF-16 units long, more than the " +
               std::to_string(RECORD_NAME_CAPACITY - 1) + " the launcher can carry";
    }
    const char *problem = archive_name_problem(name.data(), name.size());
    return problem ? problem : "";
}

ScanResult scan_app_dir(const fs::path &app_dir, const std::string &main_rel, const fs::path &output)
{
    std::error_code ec;
    if (!fs::is_directory(app_dir, ec)) {
        throw PackError("application folder " + quoted(app_dir) + " does not exist or is not a folder");
    }
    fs::path main_path = fs::path(main_rel).lexically_normal();
    if (main_rel.empty() || main_path.is_absolute() || main_path.empty() || *main_path.begin() == "..") {
        throw PackError("main binary '" + main_rel + "' is not inside the application folder " +
                        quoted(app_dir) + "; give --main as a path relative to that folder");
    }
    Walker w;
    w.output = output;
    w.root = fs::canonical(app_dir, ec);
    if (ec) throw PackError("cannot read application folder " + quoted(app_dir) + ": " + ec.message());
    std::set<fs::path> ancestors{w.root};
    w.walk(app_dir, "", ancestors);
    std::sort(w.files.begin(), w.files.end(),
              [](const SourceFile &a, const SourceFile &b) { return a.rel < b.rel; });

    const std::string main_key = main_path.generic_string();
    auto it =
        std::find_if(w.files.begin(), w.files.end(), [&](const SourceFile &f) { return f.rel == main_key; });
    if (it == w.files.end()) {
        fs::path full = app_dir / main_path;
        if (fs::is_directory(full, ec)) {
            throw PackError("main binary " + quoted(full) + " is a folder; give --main the program file");
        }
        throw PackError("main binary " + quoted(full) + " not found in the application folder " +
                        quoted(app_dir));
    }
    std::rotate(w.files.begin(), it, it + 1);
    check_case_clashes(w.files);
    return ScanResult{std::move(w.files), std::move(w.warnings)};
}

uint64_t archive_size(const std::vector<SourceFile> &files)
{
    uint64_t total = 2;
    for (const SourceFile &f : files) total += 2 * (f.name.size() + 1) + 8 + 4 + f.size;
    return total;
}

void write_archive(const std::vector<SourceFile> &files,
                   const std::function<void(const void *, size_t)> &sink)
{
    std::vector<unsigned char> out;
    out.reserve(kChunk + 4096);
    std::vector<char> buf(kChunk);
    auto flush = [&] {
        if (!out.empty()) sink(out.data(), out.size());
        out.clear();
    };
    auto changed = [](const SourceFile &f) {
        return PackError("file " + quoted(f.path) + " changed while it was being packed; pack again");
    };
    for (const SourceFile &f : files) {
        // Two passes: the checksum precedes the content in the record, and a
        // file may be as large as 4 GiB, so it is not held in memory.
        uint32_t crc = 0;
        for (int pass = 0; pass < 2; ++pass) {
            std::ifstream in(f.path, std::ios::binary);
            if (!in) throw PackError("cannot read " + quoted(f.path));
            uint32_t c = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
            uint64_t got = 0;
            while (in) {
                in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
                size_t n = static_cast<size_t>(in.gcount());
                if (n == 0) break;
                got += n;
                if (got > f.size) throw changed(f);
                c = static_cast<uint32_t>(
                    crc32(c, reinterpret_cast<const Bytef *>(buf.data()), static_cast<uInt>(n)));
                if (pass == 1) {
                    out.insert(out.end(), buf.data(), buf.data() + n);
                    if (out.size() >= kChunk) flush();
                }
            }
            if (in.bad()) throw PackError("cannot read " + quoted(f.path) + ": read error");
            if (got != f.size) throw changed(f);
            if (pass == 0) {
                crc = c;
                for (char16_t u : f.name) put_u16(out, u);
                put_u16(out, 0);
                put_u64(out, f.size);
                put_u32(out, stored_checksum(crc));
            } else if (c != crc) {
                throw changed(f);
            }
        }
    }
    put_u16(out, 0);  // end marker
    flush();
}

}  // namespace zobrel
