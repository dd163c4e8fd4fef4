// names.h: the packer's side of the archive-name rule: why a record name
// cannot be unpacked on Windows, in words for a refusal.
#ifndef ZOBREL_PACKER_ARCHIVE_NAMES_H
#define ZOBREL_PACKER_ARCHIVE_NAMES_H

#include <string>

namespace zobrel {

// Why a record name cannot be unpacked on Windows, or "" when it can: the
// shared archive-name rule (archive_name.h), with the length in the message.
std::string name_problem(const std::u16string &name);

// True when Windows takes the name component for a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, whatever the extension), so it can name no file.
bool reserved_device_name(const std::u16string &component);

}  // namespace zobrel

#endif
