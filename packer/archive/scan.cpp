// scan.cpp: scans the application folder into the files to carry and checks their names.
#include "archive/scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>

#include "archive/exclude.h"
#include "archive/names.h"
#include "base/error.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

const uint64_t MAX_FILE_SIZE = uint64_t{1} << 32;
// Enough to see what a folder's trouble is, few enough to read.
const size_t REFUSALS_SHOWN = 20;

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
    Exclusions *exclusions = nullptr;
    std::vector<SourceFile> files;
    std::vector<std::string> warnings;
    // Every file that cannot be carried, with its path, so that one run
    // names them all, in the order of their paths whatever the folders' order.
    std::vector<std::pair<std::string, std::string>> refusals;

    void refuse(const std::string &rel, const std::string &what) { refusals.emplace_back(rel, what); }

    // True when --exclude leaves the entry out: then nothing else about it is
    // looked at (a dangling link or a bad name there is no one's concern).
    bool excluded(const fs::path &p, const std::string &rel)
    {
        if (exclusions == nullptr || exclusions->empty()) return false;
        std::u16string name;
        // A name that is not UTF-8 matches no pattern; it is refused below.
        if (!utf8_to_utf16(rel, name)) return false;
        std::error_code ec;
        return exclusions->excludes(name, fs::is_directory(p, ec));
    }

    void add_file(const fs::path &path, const std::string &rel, uint64_t size)
    {
        std::u16string name;
        if (!utf8_to_utf16(rel, name)) {
            return refuse(rel, "cannot carry " + quoted(path) + ": its name is not valid UTF-8; rename it");
        }
        // A backslash in a Linux name would turn into a separator on Windows.
        std::string why = name.find(u'\\') != std::u16string::npos
                              ? "the name holds one of the characters Windows forbids in names: \\"
                              : "";
        std::replace(name.begin(), name.end(), u'/', u'\\');
        if (why.empty()) why = name_problem(name);
        if (!why.empty()) {
            return refuse(rel, "cannot carry " + quoted(path) + ": " + why +
                                   "; rename it, move it out of the folder or leave it out with --exclude");
        }
        if (size >= MAX_FILE_SIZE) {
            return refuse(rel, "cannot carry " + quoted(path) + ": files of 4 GiB or more are not supported");
        }
        std::ifstream readable(path, std::ios::binary);
        if (!readable) {
            return refuse(rel,
                          "cannot read " + quoted(path) + ": " + std::strerror(errno) +
                              "; make it readable, move it out of the folder or leave it out with --exclude");
        }
        files.push_back(SourceFile{rel, name, path, size});
    }

    void walk(const fs::path &dir, const std::string &rel, std::set<fs::path> &ancestors)
    {
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec) return refuse(rel, "cannot read folder " + quoted(dir) + ": " + ec.message());
        std::vector<fs::directory_entry> entries;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            entries.push_back(*it);
        }
        if (ec) return refuse(rel, "cannot read folder " + quoted(dir) + ": " + ec.message());
        if (entries.empty() && !rel.empty()) {
            warnings.push_back(
                "empty folder " + quoted(dir) +
                " cannot be carried (the archive holds files only); it will not exist after unpacking");
        }
        for (const fs::directory_entry &e : entries) visit(e.path(), rel, ancestors);
    }

    void visit(const fs::path &p, const std::string &rel, std::set<fs::path> &ancestors)
    {
        std::error_code ec;
        const std::string child_rel =
            rel.empty() ? p.filename().u8string() : rel + "/" + p.filename().u8string();
        if (excluded(p, child_rel)) return;
        fs::file_status st = fs::symlink_status(p, ec);
        if (ec) return refuse(child_rel, "cannot read " + quoted(p) + ": " + ec.message());
        fs::path real = p;
        if (fs::is_symlink(st)) {
            real = fs::canonical(p, ec);
            if (ec)
                return refuse(child_rel, "symbolic link " + quoted(p) + " leads nowhere; fix or remove it");
            if (!is_inside(root, real)) {
                return refuse(child_rel, "symbolic link " + quoted(p) +
                                             " leads outside the application folder (to " + quoted(real) +
                                             "); copy the file into the folder instead");
            }
            st = fs::status(p, ec);
            if (ec) return refuse(child_rel, "cannot read " + quoted(p) + ": " + ec.message());
        }
        if (fs::is_directory(st)) {
            fs::path key = fs::canonical(p, ec);
            if (ec) return refuse(child_rel, "cannot read folder " + quoted(p) + ": " + ec.message());
            if (ancestors.count(key)) {
                return refuse(child_rel, "symbolic link " + quoted(p) +
                                             " leads back into a folder that contains it; remove the loop");
            }
            ancestors.insert(key);
            walk(p, child_rel, ancestors);
            ancestors.erase(key);
        } else if (fs::is_regular_file(st)) {
            uint64_t size = fs::file_size(p, ec);
            if (ec) return refuse(child_rel, "cannot read " + quoted(p) + ": " + ec.message());
            if (output_size && *output_size == size && fs::equivalent(p, output, ec)) {
                warnings.push_back("leaving out " + quoted(p) + ": it is the output being built");
                return;
            }
            add_file(p, child_rel, size);
        } else {
            refuse(child_rel,
                   "cannot carry " + quoted(p) + ": it is not a regular file, folder or link to one");
        }
    }
};

// Two names some Windows could take for one file would unpack into one
// file, and the application would run over one of the contents; a file and
// a folder of one name would fail every start. The same for a name that
// could be the short name of another in its folder, or of the launcher's own
// file beside the application's. Every such pair is refused.
void refuse_name_clashes(const std::vector<SourceFile> &files,
                         const std::vector<std::u16string> &launcher_files,
                         std::vector<std::string> &refusals)
{
    std::vector<std::u16string> names;
    names.reserve(files.size());
    for (const SourceFile &f : files) names.push_back(f.name);
    for (const NameClash &clash : find_clashes(names, launcher_files)) {
        const SourceFile &a = files[clash.first];
        if (clash.kind == NAME_CLASH_SHORT_NAME) {
            const bool launchers = clash.second >= files.size();
            const std::u16string &gets =
                launchers ? launcher_files[clash.second - files.size()] : files[clash.second].name;
            const std::string why = short_name_reason(a.name, gets, clash.component, launchers);
            if (launchers) {
                refusals.push_back("cannot carry '" + a.rel + "': " + why + "; rename it");
            } else {
                refusals.push_back("cannot carry both '" + a.rel + "' and '" + files[clash.second].rel +
                                   "': " + why + "; rename one");
            }
            continue;
        }
        const SourceFile &b = files[clash.second];
        if (clash.kind == NAME_CLASH_SAME_FILE) {
            refusals.push_back("cannot carry both '" + a.rel + "' and '" + b.rel +
                               "': Windows does not tell their names apart; rename one");
        } else {
            refusals.push_back("cannot carry both the file '" + a.rel + "' and '" + b.rel +
                               "': on Windows a file and a folder cannot share a name; rename one");
        }
    }
}

// The refusals as one message, a line each, the first REFUSALS_SHOWN of them.
[[noreturn]] void throw_refusals(const std::vector<std::string> &refusals)
{
    std::string message;
    const size_t shown = std::min(refusals.size(), REFUSALS_SHOWN);
    for (size_t i = 0; i < shown; ++i) message += (i > 0 ? "\n" : "") + refusals[i];
    if (refusals.size() > shown) {
        message += "\nand " + std::to_string(refusals.size() - shown) + " more files that cannot be carried";
    }
    throw PackError(message);
}

}  // namespace

std::string windows_separators_as_slashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

ScanResult scan_app_dir(const fs::path &app_dir, const std::string &main_rel, const fs::path &output,
                        Exclusions *exclusions, const std::vector<std::u16string> &launcher_files)
{
    std::error_code ec;
    if (!fs::is_directory(app_dir, ec)) {
        throw PackError("application folder " + quoted(app_dir) + " does not exist or is not a folder");
    }
    fs::path main_path = path_from_utf8(windows_separators_as_slashes(main_rel)).lexically_normal();
    if (main_rel.empty() || main_path.is_absolute() || main_path.empty() || *main_path.begin() == "..") {
        throw PackError("main binary '" + main_rel + "' is not inside the application folder " +
                        quoted(app_dir) + "; give --main as a path relative to that folder");
    }
    Walker w;
    w.output = output;
    w.exclusions = exclusions;
    if (!output.empty() && fs::is_regular_file(output, ec)) w.output_size = fs::file_size(output, ec);
    w.root = fs::canonical(app_dir, ec);
    if (ec) throw PackError("cannot read application folder " + quoted(app_dir) + ": " + ec.message());
    std::set<fs::path> ancestors{w.root};
    w.walk(app_dir, "", ancestors);
    std::sort(w.files.begin(), w.files.end(),
              [](const SourceFile &a, const SourceFile &b) { return a.rel < b.rel; });
    std::sort(w.refusals.begin(), w.refusals.end());
    std::vector<std::string> refusals;
    for (const auto &refusal : w.refusals) refusals.push_back(refusal.second);
    refuse_name_clashes(w.files, launcher_files, refusals);
    if (!refusals.empty()) throw_refusals(refusals);

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
    return ScanResult{std::move(w.files), std::move(w.warnings)};
}

}  // namespace zobrel
