// names.h: the packer's side of the archive-name rules: why a record name
// cannot be unpacked on Windows, in words for a refusal, and which names
// Windows could take for one file.
#ifndef ZOBREL_PACKER_ARCHIVE_NAMES_H
#define ZOBREL_PACKER_ARCHIVE_NAMES_H

#include <string>
#include <vector>

#include "name_clash.h"

namespace zobrel {

// Why a record name cannot be unpacked on Windows, or "" when it can: the
// shared archive-name rule (archive_name.h), with the length in the message.
std::string name_problem(const std::u16string &name);

// True when Windows takes the name component for a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, whatever the extension), so it can name no file.
bool reserved_device_name(const std::u16string &component);

// Two of the names (positions in `names`) that some Windows could take for
// one file, or a file and a name inside a folder of the file's name, under
// the name-equality rule (name_fold.h), at any depth; kind NAME_CLASH_NONE
// when there are none.
NameClash find_clash(const std::vector<std::u16string> &names);

// Every clash find_clash could find, each pair of neighbours in the order
// of compare_names (three names of one file give two pairs), in that order;
// empty when there is none.
std::vector<NameClash> find_clashes(const std::vector<std::u16string> &names);

}  // namespace zobrel

#endif
