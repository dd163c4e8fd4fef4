// scan.cpp: scans the application folder into the files to carry and checks their names.
#include "archive/scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
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

// Two names some Windows could take for one file would unpack into one
// file, and the application would run over one of the contents; a file and
// a folder of one name would fail every start. The same for a name that
// could be the short name of another in its folder, or of the launcher's own
// file beside the application's.
void check_name_clashes(const std::vector<SourceFile> &files,
                        const std::vector<std::u16string> &launcher_files)
{
    std::vector<std::u16string> names;
    names.reserve(files.size());
    for (const SourceFile &f : files) names.push_back(f.name);
    const NameClash clash = find_clash(names, launcher_files);
    if (clash.kind == NAME_CLASH_NONE) return;
    const SourceFile &a = files[clash.first];
    if (clash.kind == NAME_CLASH_SHORT_NAME) {
        const bool launchers = clash.second >= files.size();
        const std::u16string &gets =
            launchers ? launcher_files[clash.second - files.size()] : files[clash.second].name;
        const std::string why = short_name_reason(a.name, gets, clash.component, launchers);
        if (launchers) {
            throw PackError("cannot carry '" + a.rel + "': " + why + "; rename it");
        }
        throw PackError("cannot carry both '" + a.rel + "' and '" + files[clash.second].rel + "': " + why +
                        "; rename one");
    }
    const SourceFile &b = files[clash.second];
    if (clash.kind == NAME_CLASH_SAME_FILE) {
        throw PackError("cannot carry both '" + a.rel + "' and '" + b.rel +
                        "': Windows does not tell their names apart; rename one");
    }
    throw PackError("cannot carry both the file '" + a.rel + "' and '" + b.rel +
                    "': on Windows a file and a folder cannot share a name; rename one");
}

}  // namespace

ScanResult scan_app_dir(const fs::path &app_dir, const std::string &main_rel, const fs::path &output,
                        const std::vector<std::u16string> &launcher_files)
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
    check_name_clashes(w.files, launcher_files);
    return ScanResult{std::move(w.files), std::move(w.warnings)};
}

}  // namespace zobrel
