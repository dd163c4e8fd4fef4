// scan.cpp: scans the application folder into the files to carry and checks their names.
#include "archive/scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "archive/names.h"
#include "base/error.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

const uint64_t kMaxFileSize = uint64_t{1} << 32;

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

}  // namespace

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

}  // namespace zobrel
