// names.cpp: the archive-name rules in words, and the clash search, for the packer's refusals.
#include "archive/names.h"

#include <algorithm>

#include "archive_name.h"
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

NameClash find_clash(const std::vector<std::u16string> &names)
{
    const NameList list = {[](const void *context, size_t i, size_t *length) {
                               const std::u16string &name =
                                   (*static_cast<const std::vector<std::u16string> *>(context))[i];
                               *length = name.size();
                               return name.data();
                           },
                           &names, names.size()};
    std::vector<uint32_t> order(names.size());
    return find_name_clash(&list, compare_folded, order.data());
}

}  // namespace zobrel

namespace zobrel {

std::vector<NameClash> find_clashes(const std::vector<std::u16string> &names)
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
            clashes.push_back(
                {NAME_CLASH_SAME_FILE, std::min(order[i - 1], order[i]), std::max(order[i - 1], order[i])});
            continue;
        }
        // A file, then a name that lies in a folder of the file's name.
        const size_t levels = static_cast<size_t>(std::count(a.begin(), a.end(), u'\\')) + 1;
        size_t cut = 0;
        for (size_t seen = 0; cut < b.size(); ++cut) {
            if (b[cut] == u'\\' && ++seen == levels) break;
        }
        if (cut < b.size() && compare_names(a.data(), a.size(), b.data(), cut, compare_folded) == 0) {
            clashes.push_back({NAME_CLASH_FILE_AND_FOLDER, order[i - 1], order[i]});
        }
    }
    return clashes;
}

}  // namespace zobrel
