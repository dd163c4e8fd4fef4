// names.cpp: the archive-name rules in words, and the clash search, for the packer's refusals.
#include "archive/names.h"

#include <algorithm>
#include <map>
#include <set>

#include "archive_name.h"
#include "base/text.h"
#include "capacities.h"
#include "name_fold.h"
#include "short_name.h"

namespace zobrel {

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

std::vector<std::u16string> launcher_files(bool checks_metadata, bool keeps_builds)
{
    const char *written[LAUNCHER_FILE_LIMIT];
    const size_t count = launcher_files_written(checks_metadata, keeps_builds, written);
    std::vector<std::u16string> names;
    for (size_t i = 0; i < count; i++) {
        const std::string ascii = written[i];
        names.emplace_back(ascii.begin(), ascii.end());
    }
    return names;
}

NameClash find_clash(const std::vector<std::u16string> &names,
                     const std::vector<std::u16string> &launcher_files)
{
    struct Both {
        const std::vector<std::u16string> &names, &launcher_files;
    } both{names, launcher_files};
    const NameList list = {[](const void *context, size_t i, size_t *length) {
                               const Both &lists = *static_cast<const Both *>(context);
                               const std::u16string &name =
                                   i < lists.names.size() ? lists.names[i]
                                                          : lists.launcher_files[i - lists.names.size()];
                               *length = name.size();
                               return name.data();
                           },
                           &both, names.size() + launcher_files.size()};
    std::vector<uint32_t> order(list.count);
    return find_name_clash(&list, compare_folded, order.data());
}

namespace {

// Component `index` of a backslash-separated name, as UTF-8.
std::string component_of(const std::u16string &name, size_t index)
{
    size_t start = 0;
    for (; index > 0; index--) start = name.find(u'\\', start) + 1;
    const size_t end = name.find(u'\\', start);
    std::string text;
    utf16_to_utf8(name.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start), text);
    return text;
}

bool is_folder_at(const std::u16string &name, size_t index)
{
    size_t separators = 0;
    for (char16_t unit : name) separators += unit == u'\\';
    return index < separators;
}

}  // namespace

std::string short_name_reason(const std::u16string &could, const std::u16string &gets, size_t component,
                              bool launchers)
{
    const std::string kind = launchers                       ? "the launcher's own file"
                             : is_folder_at(gets, component) ? "the folder"
                                                             : "the file";
    return "'" + component_of(could, component) + "' could be the short (8.3) name Windows gives " + kind +
           " '" + component_of(gets, component) + "' beside it, and would then open it";
}

}  // namespace zobrel

namespace zobrel {

namespace {

// The name with every unit folded (name_fold.h): equal keys, one name on Windows.
std::u16string folded(const std::u16string &name, size_t length)
{
    std::u16string key(name, 0, length);
    for (char16_t &unit : key) unit = name_fold_unit(unit);
    return key;
}

// Every short-name clash find_clash could find: each component that could
// be a short name paired with one in its folder that gets one, each
// component once however many names pass through it.
std::vector<NameClash> short_name_clashes(const std::vector<std::u16string> &names,
                                          const std::vector<std::u16string> &launcher_files)
{
    struct Component {
        size_t position, depth;
        std::u16string key;  // the folded path up to and with the component
    };
    struct Folder {
        std::vector<Component> could, gets;
    };
    std::map<std::u16string, Folder> folders;  // by folded folder path
    std::set<std::u16string> seen;
    for (size_t i = 0; i < names.size() + launcher_files.size(); ++i) {
        const std::u16string &name = i < names.size() ? names[i] : launcher_files[i - names.size()];
        size_t start = 0;
        for (size_t depth = 0; start <= name.size(); ++depth) {
            size_t end = name.find(u'\\', start);
            if (end == std::u16string::npos) end = name.size();
            std::u16string key = folded(name, end);
            if (seen.insert(key).second) {
                const char16_t *component = name.data() + start;
                Folder &folder = folders[folded(name, start)];
                if (could_be_generated_short_name(component, end - start))
                    folder.could.push_back({i, depth, key});
                if (gets_generated_short_name(component, end - start)) folder.gets.push_back({i, depth, key});
            }
            start = end + 1;
        }
    }
    std::vector<NameClash> clashes;
    for (auto &entry : folders) {
        // Paired with the first in the order names compare (as find_clash
        // meets them), which is the launcher's own file where there is one.
        std::vector<Component> &gets = entry.second.gets;
        std::sort(gets.begin(), gets.end(),
                  [](const Component &a, const Component &b) { return a.key < b.key; });
        for (const Component &could : entry.second.could) {
            // A component of both kinds is no clash with itself.
            for (const Component &other : gets) {
                if (other.key == could.key) continue;
                clashes.push_back({NAME_CLASH_SHORT_NAME, could.position, other.position, could.depth});
                break;
            }
        }
    }
    return clashes;
}

}  // namespace

std::vector<NameClash> find_clashes(const std::vector<std::u16string> &names,
                                    const std::vector<std::u16string> &launcher_files)
{
    auto compare = [&](size_t a, size_t b) {
        return compare_names(names[a].data(), names[a].size(), names[b].data(), names[b].size(),
                             compare_folded);
    };
    std::vector<size_t> order(names.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return compare(a, b) < 0; });
    // In this order a clash is always between neighbours (compare_names).
    std::vector<NameClash> clashes;
    for (size_t i = 1; i < order.size(); ++i) {
        const std::u16string &a = names[order[i - 1]], &b = names[order[i]];
        if (compare(order[i - 1], order[i]) == 0) {
            clashes.push_back({NAME_CLASH_SAME_FILE, std::min(order[i - 1], order[i]),
                               std::max(order[i - 1], order[i]), 0});
            continue;
        }
        // A file, then a name that lies in a folder of the file's name.
        const size_t levels = static_cast<size_t>(std::count(a.begin(), a.end(), u'\\')) + 1;
        size_t cut = 0;
        for (size_t seen = 0; cut < b.size(); ++cut) {
            if (b[cut] == u'\\' && ++seen == levels) break;
        }
        if (cut < b.size() && compare_names(a.data(), a.size(), b.data(), cut, compare_folded) == 0) {
            clashes.push_back({NAME_CLASH_FILE_AND_FOLDER, order[i - 1], order[i], 0});
        }
    }
    // As in find_clash, short names are looked at once names are one file each.
    if (clashes.empty()) clashes = short_name_clashes(names, launcher_files);
    return clashes;
}

}  // namespace zobrel
