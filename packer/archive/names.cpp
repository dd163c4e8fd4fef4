// names.cpp: the archive-name rules in words, and the clash search, for the packer's refusals.
#include "archive/names.h"

#include "archive_name.h"
#include "base/text.h"
#include "capacities.h"
#include "name_fold.h"

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
