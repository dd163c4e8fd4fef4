// extract.cpp: writes a packed executable's files into a folder, each only once it matches.
#include "inspect/extract.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "archive/names.h"
#include "archive/reader.h"
#include "base/diagnostics.h"
#include "base/error.h"
#include "base/host.h"
#include "base/text.h"
#include "inspect/packed_payload.h"
#include "payload_format.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

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

void run_extract(const fs::path &exe, const fs::path &dir)
{
    // Checked whole first, as verify does: what it would refuse, or a payload
    // that breaks off in the middle, writes nothing at all.
    PackedFile file = read_packed(exe);
    check_launcher(file);
    if (file.frame_found && file.problems.empty()) check_archive(file);
    print_diagnostics(Diagnostic::warning, file.warnings);
    if (!file.problems.empty()) {
        print_diagnostics(Diagnostic::finding, file.problems);
        throw PackError(
            "refusing to extract " + quoted(exe) +
            ": it would not start, or not unpack exactly its files (see above); nothing was written");
    }
    std::error_code error;
    fs::create_directories(dir, error);
    if (!fs::is_directory(dir)) {
        const bool file_there = fs::exists(dir);
        throw PackError("cannot extract into " + quoted(dir) + ": " +
                        (file_there ? std::string("it is a file, not a folder") : error.message()) +
                        "; nothing was written");
    }
    Extractor x(dir);
    read_payload_archive(file, x);
}

}  // namespace zobrel
