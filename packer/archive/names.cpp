// names.cpp: the archive-name rules in words, and the clash search, for the packer's refusals.
#include "archive/names.h"

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
