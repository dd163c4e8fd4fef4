// archive.cpp: scans the application folder into records and writes the record stream.
#include "archive.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include <libdeflate.h>

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
// Files up to this size are read into memory once; larger ones twice.
const uint64_t kWholeFile = uint64_t{64} << 20;
// How far reading may run ahead of compressing.
const uint64_t kReadAhead = uint64_t{8} << 20;

std::string quoted(const fs::path &p)
{
    return "'" + utf8_path(p) + "'";
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
    // The output's size if it exists already: only a file of that size can be it.
    std::optional<uint64_t> output_size;
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
        std::ifstream readable(path, std::ios::binary);
        if (!readable) {
            refuse("cannot read " + quoted(path) + ": " + std::strerror(errno) +
                   "; make it readable or move it out of the folder");
        }
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
                rel.empty() ? p.filename().u8string() : rel + "/" + p.filename().u8string();
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
                if (output_size && *output_size == size && fs::equivalent(p, output, ec)) {
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
    fs::path main_path = path_from_utf8(main_rel).lexically_normal();
    if (main_rel.empty() || main_path.is_absolute() || main_path.empty() || *main_path.begin() == "..") {
        throw PackError("main binary '" + main_rel + "' is not inside the application folder " +
                        quoted(app_dir) + "; give --main as a path relative to that folder");
    }
    Walker w;
    w.output = output;
    if (!output.empty() && fs::is_regular_file(output, ec)) w.output_size = fs::file_size(output, ec);
    w.root = fs::canonical(app_dir, ec);
    if (ec) throw PackError("cannot read application folder " + quoted(app_dir) + ": " + ec.message());
    std::set<fs::path> ancestors{w.root};
    w.walk(app_dir, "", ancestors);
    std::sort(w.files.begin(), w.files.end(),
              [](const SourceFile &a, const SourceFile &b) { return a.rel < b.rel; });

    const std::string main_key = main_path.generic_u8string();
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

namespace {

PackError changed_file(const SourceFile &f)
{
    return PackError("file " + quoted(f.path) + " changed while it was being packed; pack again");
}

// Memory for one file's content, never zero-filled, reused from file to file
// so that its pages are touched once.
struct Buffer {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
};

// One file's content read whole, with its CRC-32; or, for a file too large
// to hold, nothing (its reader streams it then).
struct LoadedFile {
    Buffer buffer;
    size_t size = 0;
    uint32_t crc = 0;
    bool whole = false;
    std::exception_ptr error;
};

// Reads the file into the buffer, which grows if it must.
LoadedFile load_whole(const SourceFile &f, Buffer buffer)
{
    LoadedFile loaded;
    loaded.whole = true;
    loaded.size = static_cast<size_t>(f.size);
    if (buffer.capacity < loaded.size) {
        buffer.capacity = std::max(loaded.size, size_t{1} << 20);
        buffer.data.reset(new char[buffer.capacity]);
    }
    loaded.buffer = std::move(buffer);
    std::ifstream in(f.path, std::ios::binary);
    if (!in) throw PackError("cannot read " + quoted(f.path));
    in.read(loaded.buffer.data.get(), static_cast<std::streamsize>(loaded.size));
    if (in.bad()) throw PackError("cannot read " + quoted(f.path) + ": read error");
    if (static_cast<uint64_t>(in.gcount()) != f.size || in.peek() != std::char_traits<char>::eof()) {
        throw changed_file(f);
    }
    loaded.crc = libdeflate_crc32(0, loaded.buffer.data.get(), loaded.size);
    return loaded;
}

// Reads the files in order on a thread of its own, up to kReadAhead bytes
// ahead of the compressor, so that reading and checksumming overlap
// compressing, as a compressor's own input reading does.
class ReadAhead {
public:
    explicit ReadAhead(const std::vector<SourceFile> &files) : files_(files), thread_([this] { run(); }) {}
    ~ReadAhead()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Gives a buffer back for reuse.
    void recycle(Buffer buffer)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(buffer));
    }

    // The next file's, in the files' order; rethrows what its reading threw.
    LoadedFile next()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty(); });
        LoadedFile loaded = std::move(ready_.front());
        ready_.pop_front();
        held_ -= loaded.size;
        changed_.notify_all();
        if (loaded.error) std::rethrow_exception(loaded.error);
        return loaded;
    }

private:
    void run()
    {
        for (const SourceFile &f : files_) {
            LoadedFile loaded;
            Buffer buffer;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || held_ == 0 || held_ + f.size <= kReadAhead; });
                if (stop_) return;
                // The smallest spare buffer that holds the file, else the largest.
                size_t pick = spare_.size();
                for (size_t i = 0; i < spare_.size(); ++i) {
                    const bool fits = spare_[i].capacity >= f.size;
                    if (pick == spare_.size() ||
                        (fits &&
                         (spare_[pick].capacity < f.size || spare_[i].capacity < spare_[pick].capacity)) ||
                        (!fits && spare_[pick].capacity < f.size &&
                         spare_[i].capacity > spare_[pick].capacity)) {
                        pick = i;
                    }
                }
                if (pick < spare_.size()) {
                    buffer = std::move(spare_[pick]);
                    spare_.erase(spare_.begin() + static_cast<long>(pick));
                }
            }
            try {
                if (f.size <= kWholeFile) loaded = load_whole(f, std::move(buffer));
            } catch (...) {
                loaded.error = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            held_ += loaded.size;
            const bool failed = loaded.error != nullptr;
            ready_.push_back(std::move(loaded));
            changed_.notify_all();
            if (failed) return;
        }
    }

    const std::vector<SourceFile> &files_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<LoadedFile> ready_;
    std::vector<Buffer> spare_;
    uint64_t held_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

std::vector<IndexEntry> write_archive(const std::vector<SourceFile> &files,
                                      const std::function<void(const void *, size_t)> &sink)
{
    std::vector<IndexEntry> written;
    std::vector<unsigned char> header;
    std::vector<char> buf(kChunk);
    auto put_header = [&](const SourceFile &f, uint32_t crc) {
        header.clear();
        for (char16_t u : f.name) put_u16(header, u);
        put_u16(header, 0);
        put_u64(header, f.size);
        put_u32(header, stored_checksum(crc));
        sink(header.data(), header.size());
        written.push_back(IndexEntry{f.name, f.size, stored_checksum(crc)});
    };
    // Streams the file through buf, passing each piece to `piece`; returns its CRC-32.
    auto stream = [&](const SourceFile &f, const std::function<void(const char *, size_t)> &piece) {
        std::ifstream in(f.path, std::ios::binary);
        if (!in) throw PackError("cannot read " + quoted(f.path));
        uint32_t c = 0;
        uint64_t got = 0;
        while (in) {
            in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
            size_t n = static_cast<size_t>(in.gcount());
            if (n == 0) break;
            got += n;
            if (got > f.size) throw changed_file(f);
            c = libdeflate_crc32(c, buf.data(), n);
            piece(buf.data(), n);
        }
        if (in.bad()) throw PackError("cannot read " + quoted(f.path) + ": read error");
        if (got != f.size) throw changed_file(f);
        return c;
    };
    ReadAhead reader(files);
    for (const SourceFile &f : files) {
        LoadedFile loaded = reader.next();
        if (loaded.whole) {
            // Read once: the checksum precedes the content in the record, and
            // what was checksummed is what is stored.
            put_header(f, loaded.crc);
            for (size_t at = 0; at < loaded.size; at += kChunk) {
                sink(loaded.buffer.data.get() + at, std::min(kChunk, loaded.size - at));
            }
            reader.recycle(std::move(loaded.buffer));
        } else {
            // Too large to hold: a checksum pass, then the content, checked again.
            const uint32_t crc = stream(f, [](const char *, size_t) {});
            put_header(f, crc);
            if (stream(f, [&](const char *p, size_t n) { sink(p, n); }) != crc) throw changed_file(f);
        }
    }
    const unsigned char end_marker[2] = {0, 0};
    sink(end_marker, sizeof end_marker);
    return written;
}

}  // namespace zobrel
